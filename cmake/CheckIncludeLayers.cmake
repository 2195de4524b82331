# Refuses an include that climbs: a file may include its own room and the
# rooms below it, never one above or beside it. Run with
#   cmake -DSOURCE_DIR=<repo> -P CheckIncludeLayers.cmake
# (the build runs it before compiling anything, and ctest runs it too).
#
# Each room: its folder, then the folders (or generated headers) its files may
# include; "zelk" is the C interface's public headers. The tests, fuzz targets
# and benchmarks may include anything.
set(ZELK_ROOMS
    "hidtransport: hidtransport"
    "engine: engine hidtransport"
    "updatelib: updatelib engine hidtransport"
    "capi: capi zelk updatelib engine hidtransport"
    "app/text: app/text"
    "app/package: app/package app/text engine hidtransport"
    "app/platform: app/platform app/package app/text"
    "app/desktop: app/desktop app/platform app/text"
    "app/run: app/run app/desktop app/platform app/package app/text updatelib engine hidtransport"
    "app/dialog: app/dialog app/run app/desktop app/platform app/package app/text updatelib engine hidtransport"
    "app/window: app/window app/dialog app/run app/desktop app/platform app/package app/text updatelib engine hidtransport"
    "app/programs: app capi zelk updatelib engine hidtransport zelk_version.h"
    "tools: tools app/package app/text engine hidtransport zelk_version.h")

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(violations 0)
foreach(room_rule IN LISTS ZELK_ROOMS)
  string(REGEX REPLACE ":.*" "" room "${room_rule}")
  string(REGEX REPLACE "^[^:]*: *" "" allowed "${room_rule}")
  separate_arguments(allowed UNIX_COMMAND "${allowed}")
  file(GLOB_RECURSE room_files "${SOURCE_DIR}/${room}/*.h" "${SOURCE_DIR}/${room}/*.cpp"
       "${SOURCE_DIR}/${room}/*.c")
  foreach(source IN LISTS room_files)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
      set(ok FALSE)
      foreach(folder IN LISTS allowed)
        string(LENGTH "${folder}/" prefix_length)
        string(SUBSTRING "${header}" 0 ${prefix_length} prefix)
        if(prefix STREQUAL "${folder}/" OR header STREQUAL folder)
          set(ok TRUE)
        endif()
      endforeach()
      if(NOT ok)
        file(RELATIVE_PATH where "${SOURCE_DIR}" "${source}")
        message(SEND_ERROR "${where}: includes \"${header}\", which is not in ${room} or a room below it")
        math(EXPR violations "${violations} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()
# The operating system stays behind the backends and platform folders: only
# they include an OS header or ask which OS they are built for.
set(ZELK_OS_FOLDERS hidtransport/linux hidtransport/windows hidtransport/virtual app/platform/linux app/platform/win32
    app/window/qt app/window/win32 app/programs tools/linux tools/win32 capi/include)
set(ZELK_OS_HEADER_REGEX
    "^[ \t]*#[ \t]*include[ \t]*<(windows|winioctl|hidsdi|hidpi|setupapi|cfgmgr32|shellapi|shlobj|unistd|fcntl|poll|dirent|pwd|signal|sys/[a-z_]+|linux/[a-z_]+|systemd/[a-z_-]+)\\.h>")
foreach(folder IN ITEMS hidtransport engine updatelib capi app tools)
  file(GLOB_RECURSE os_files "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS os_files)
    file(RELATIVE_PATH where "${SOURCE_DIR}" "${source}")
    set(allowed_here FALSE)
    foreach(os_folder IN LISTS ZELK_OS_FOLDERS)
      string(FIND "${where}" "${os_folder}/" at)
      if(at EQUAL 0)
        set(allowed_here TRUE)
      endif()
    endforeach()
    if(NOT allowed_here)
      file(STRINGS "${source}" os_lines REGEX "${ZELK_OS_HEADER_REGEX}|_WIN32|__linux__")
      foreach(line IN LISTS os_lines)
        message(SEND_ERROR "${where}: \"${line}\" belongs in a backend or platform folder")
        math(EXPR violations "${violations} + 1")
      endforeach()
    endif()
  endforeach()
endforeach()

if(violations GREATER 0)
  message(FATAL_ERROR "${violations} include(s) climb out of their room or reach the OS outside its folders")
endif()
