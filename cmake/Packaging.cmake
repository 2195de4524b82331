# The packages made by CPack from the install rules of cmake/Install.cmake:
#   Linux:   three Debian packages: zelkupdatetool (the programs),
#            libzelkcfu1 (the shared library) and libzelkcfu-dev (its C
#            headers); the programs carry the library built in:
#              cmake --build --preset default --target package
#   Windows: one zip archive with the programs, the DLL, README and licence:
#              cmake --build --preset windows --target package
# Both carry the project's version (cmake/Version.cmake). docs/packaging.md.
set(CPACK_PACKAGE_NAME ${ZELK_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "The ZelkUpdateTool developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGE_CHECKSUM SHA256)
# No debug information in what is shipped.
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "ZelkUpdateTool-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  set(CPACK_COMPONENTS_ALL runtime)
  # A cross build strips with the cross binutils.
  find_program(CMAKE_STRIP x86_64-w64-mingw32-strip)
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime lib dev)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ZELK_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the binaries (dpkg-shlibdeps), never by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${ZELK_PACKAGE_NAME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
    "firmware updater for CFU earbuds over HID
ZelkUpdateTool updates the firmware of wireless earbuds that speak the
Component Firmware Update (CFU) protocol over HID reports. It carries its
firmware image and finds the earbud's hidraw interface by its identifiers.

This package holds the console updater zelkupdate, the window program
ZelkUpdateTool, the firmware packaging tool qrb_resource_adder, the
simulated kernel HID device zelk-uhid-device and the udev rule that lets the
logged-in user reach the earbud without root.")
# (The summary comes first, then the text, which CPack indents; an empty line
# separates paragraphs.)
# The udev rules are reloaded when the rule arrives or leaves.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${ZELK_PACKAGING_DIR}/debian/postinst
                                               ${ZELK_PACKAGING_DIR}/debian/postrm)

set(CPACK_DEBIAN_LIB_PACKAGE_NAME ${ZELK_LIB_PACKAGE_NAME})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_LIB_DESCRIPTION
    "CFU update library over HID (zelkcfu)
The shared library behind the C interface of ZelkUpdateTool's update
library, for programs of one's own that update CFU devices over HID. The
programs of the zelkupdatetool package carry the library built in and do
not need this package.")
# The shlibs file and the ldconfig trigger of the shared library.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIB_PACKAGE_CONTROL_EXTRA ${ZELK_PACKAGING_DIR}/debian/lib/triggers)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${ZELK_DEV_PACKAGE_NAME})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${ZELK_LIB_PACKAGE_NAME} (= ${PROJECT_VERSION})")
set(CPACK_COMPONENT_DEV_DESCRIPTION
    "CFU update library over HID (zelkcfu): development files
The C headers of ZelkUpdateTool's update library and the link to build
programs of one's own against libzelkcfu.")

include(CPack)
