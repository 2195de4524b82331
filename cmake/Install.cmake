# What `cmake --install` puts where, by component:
#   runtime  the programs, the udev rule, the desktop entry, the icon, the
#            AppStream metainfo, the manual pages and the documentation
#   lib      the shared library zelkcfu, with its soname (libzelkcfu.so.1)
#   dev      its C headers and the link libzelkcfu.so to build against it
#   udev     the udev rule alone into /etc/udev/rules.d, with a reload of the
#            rules: sudo cmake --install <build folder> --component udev
#            (not part of a plain install nor of the packages)
# The Debian package and the Windows archive are made from these
# (cmake/Packaging.cmake, docs/packaging.md).
include(GNUInstallDirs)

# The files of other folders that the installation takes, in one place.
# The window's icon.
set(ZELK_ICON_SOURCE ${PROJECT_SOURCE_DIR}/app/programs/zelkupdatetool.ico)
set(ZELK_UDEV_RULE_SOURCE ${PROJECT_SOURCE_DIR}/tools/linux/udev/70-zelkupdate.rules)
# The C interface: the contents of these folders go to include/.
set(ZELK_PUBLIC_HEADER_DIRS ${PROJECT_SOURCE_DIR}/capi/include/)

# The application's id: the desktop entry, the icon and the metainfo are named after it.
set(ZELK_APP_ID "com.zelk.ZelkUpdateTool")
set(ZELK_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(ZELK_PACKAGING_BINARY_DIR ${PROJECT_BINARY_DIR}/packaging)
# The name of the runtime package; its documentation folder is named after it.
set(ZELK_PACKAGE_NAME "zelkupdatetool")
set(ZELK_LIB_PACKAGE_NAME "libzelkcfu1")
set(ZELK_DEV_PACKAGE_NAME "libzelkcfu-dev")

# The shared library's soname follows the major version: libzelkcfu.so.1
# (ZELK_LIB_PACKAGE_NAME follows it too).
set_target_properties(zelkcfu PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})

set(ZELK_INSTALLED_PROGRAMS zelkupdate qrb_resource_adder)
foreach(program ZelkUpdateTool zelk-uhid-device)
  if(TARGET ${program})
    list(APPEND ZELK_INSTALLED_PROGRAMS ${program})
  endif()
endforeach()

if(WIN32)
  # The archive is flat: the programs and the DLL side by side, the headers
  # in include/ for programs of one's own.
  install(TARGETS ${ZELK_INSTALLED_PROGRAMS} zelkcfu RUNTIME DESTINATION . COMPONENT runtime)
  install(DIRECTORY ${ZELK_PUBLIC_HEADER_DIRS} DESTINATION include COMPONENT runtime FILES_MATCHING PATTERN "*.h")
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT runtime)
  install(FILES ${ZELK_PACKAGING_DIR}/windows/README.txt DESTINATION . COMPONENT runtime)
  return()
endif()

install(TARGETS ${ZELK_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
# A stripped program has lost the firmware package appended to it on Linux
# (strip keeps the ELF alone): the installed copy is packaged again with the
# same files by qrb_resource_adder, as the build did.
foreach(program ${ZELK_INSTALLED_PROGRAMS})
  get_target_property(package_files ${program} ZELK_PACKAGE_FILES)
  if(package_files)
    list(JOIN package_files "\" \"" package_arguments)
    install(
      CODE "if(CMAKE_INSTALL_DO_STRIP)
              set(program \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:${program}>\")
              execute_process(COMMAND \"$<TARGET_FILE:qrb_resource_adder>\" \"\${program}\" \"${package_arguments}\"
                                      -o \"\${program}.packaged\" RESULT_VARIABLE status)
              if(NOT status EQUAL 0)
                message(FATAL_ERROR \"could not package the stripped \${program} again\")
              endif()
              file(CHMOD \"\${program}.packaged\" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                   GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
              file(RENAME \"\${program}.packaged\" \"\${program}\")
            endif()"
      COMPONENT runtime)
  endif()
endforeach()
install(TARGETS zelkcfu LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev)
install(DIRECTORY ${ZELK_PUBLIC_HEADER_DIRS} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev
        FILES_MATCHING PATTERN "*.h")

# The udev rule: in the system's rules folder of the prefix (/usr/lib/udev/rules.d
# in the package, whose maintainer scripts reload the rules).
install(FILES ${ZELK_UDEV_RULE_SOURCE} DESTINATION lib/udev/rules.d COMPONENT runtime)
# For a machine without the package: the administrator's rules folder.
set(ZELK_UDEV_RULES_DIR "/etc/udev/rules.d" CACHE PATH "Where --component udev installs the udev rule")
install(FILES ${ZELK_UDEV_RULE_SOURCE} DESTINATION ${ZELK_UDEV_RULES_DIR} COMPONENT udev EXCLUDE_FROM_ALL)
install(
  CODE "if(NOT \"\$ENV{DESTDIR}\" AND EXISTS /run/udev/control)
          execute_process(COMMAND udevadm control --reload)
          execute_process(COMMAND udevadm trigger --subsystem-match=hidraw --action=change)
          message(STATUS \"udev rules reloaded; hidraw nodes re-evaluated\")
        endif()"
  COMPONENT udev EXCLUDE_FROM_ALL)

# Files made at build time: the compressed manual pages and changelog (Debian
# installs them gzip -9n, without a time stamp), the window's icon as PNG.
find_program(ZELK_GZIP gzip REQUIRED)
find_program(ZELK_ICOTOOL icotool)
# The Maintainer of the packages, also the signer of the changelog's entry.
set(ZELK_PACKAGE_MAINTAINER "The ZelkUpdateTool developers <zelkupdatetool@example.com>"
    CACHE STRING "The Maintainer field of the Debian packages")
configure_file(${ZELK_PACKAGING_DIR}/changelog.in ${ZELK_PACKAGING_BINARY_DIR}/changelog @ONLY)
set(ZELK_MAN_PAGES zelkupdate.1 ZelkUpdateTool.1 qrb_resource_adder.1 zelk-uhid-device.1)
set(ZELK_PACKAGING_OUTPUTS ${ZELK_PACKAGING_BINARY_DIR}/changelog.gz)
add_custom_command(
  OUTPUT ${ZELK_PACKAGING_BINARY_DIR}/changelog.gz
  COMMAND ${ZELK_GZIP} -9nf -k ${ZELK_PACKAGING_BINARY_DIR}/changelog
  DEPENDS ${ZELK_PACKAGING_BINARY_DIR}/changelog
  VERBATIM)
foreach(page ${ZELK_MAN_PAGES})
  add_custom_command(
    OUTPUT ${ZELK_PACKAGING_BINARY_DIR}/man/${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ZELK_PACKAGING_BINARY_DIR}/man
    COMMAND ${ZELK_GZIP} -9n -c ${ZELK_PACKAGING_DIR}/man/${page} > ${ZELK_PACKAGING_BINARY_DIR}/man/${page}.gz
    DEPENDS ${ZELK_PACKAGING_DIR}/man/${page}
    VERBATIM)
  list(APPEND ZELK_PACKAGING_OUTPUTS ${ZELK_PACKAGING_BINARY_DIR}/man/${page}.gz)
  install(FILES ${ZELK_PACKAGING_BINARY_DIR}/man/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
          COMPONENT runtime)
endforeach()
if(ZELK_ICOTOOL AND ZELK_ICON_SOURCE)
  # The 32 x 32 image of the window's icon.
  add_custom_command(
    OUTPUT ${ZELK_PACKAGING_BINARY_DIR}/${ZELK_APP_ID}.png
    COMMAND ${ZELK_ICOTOOL} -x -w 32 -h 32 -o ${ZELK_PACKAGING_BINARY_DIR}/${ZELK_APP_ID}.png ${ZELK_ICON_SOURCE}
    DEPENDS ${ZELK_ICON_SOURCE}
    VERBATIM)
  list(APPEND ZELK_PACKAGING_OUTPUTS ${ZELK_PACKAGING_BINARY_DIR}/${ZELK_APP_ID}.png)
  install(FILES ${ZELK_PACKAGING_BINARY_DIR}/${ZELK_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps COMPONENT runtime)
else()
  message(STATUS "icotool (icoutils) not found: the window's icon is not installed")
endif()
add_custom_target(zelk_packaging_files ALL DEPENDS ${ZELK_PACKAGING_OUTPUTS})

if(TARGET ZelkUpdateTool)
  install(FILES ${ZELK_PACKAGING_DIR}/${ZELK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications
          COMPONENT runtime)
  configure_file(${ZELK_PACKAGING_DIR}/${ZELK_APP_ID}.metainfo.xml.in
                 ${ZELK_PACKAGING_BINARY_DIR}/${ZELK_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${ZELK_PACKAGING_BINARY_DIR}/${ZELK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
          COMPONENT runtime)
endif()

# The copyright file and the changelog of each package, in its documentation folder.
foreach(component_package runtime:${ZELK_PACKAGE_NAME} lib:${ZELK_LIB_PACKAGE_NAME} dev:${ZELK_DEV_PACKAGE_NAME})
  string(REPLACE ":" ";" pair ${component_package})
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${ZELK_PACKAGING_DIR}/copyright ${ZELK_PACKAGING_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

# The programs' --version is the project's version (cmake/Version.cmake).
if(ZELK_BUILD_TESTS)
  string(REPLACE "." "\\." version_pattern ${PROJECT_VERSION})
  foreach(program zelkupdate ZelkUpdateTool)
    if(TARGET ${program})
      add_test(NAME Version.${program}SaysTheProjectVersion COMMAND ${program} --version)
      set_tests_properties(Version.${program}SaysTheProjectVersion
                           PROPERTIES PASS_REGULAR_EXPRESSION "^${program} ${version_pattern}\n$")
    endif()
  endforeach()
endif()
