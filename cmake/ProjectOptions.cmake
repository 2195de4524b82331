# Warnings and sanitizers shared by every target of the project.
add_library(zelk_options INTERFACE)
target_compile_options(zelk_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                              -Wno-sign-conversion)
if(ZELK_WERROR)
  target_compile_options(zelk_options INTERFACE -Werror)
  # g++ 12 at -O3 (the Windows release build) reports string concatenation
  # such as `" " + text` as an overlapping memcpy (-Wrestrict); a known false
  # positive of that release (GCC bug 105651), so it stays a warning there.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(zelk_options INTERFACE -Wno-error=restrict)
  endif()
endif()
if(ZELK_SANITIZE)
  target_compile_options(zelk_options INTERFACE -fsanitize=${ZELK_SANITIZE} -fno-omit-frame-pointer
                                                -fno-sanitize-recover=all)
  target_link_options(zelk_options INTERFACE -fsanitize=${ZELK_SANITIZE})
endif()
if(ZELK_FUZZ)
  # Every library and program is built with coverage feedback and the fuzzers'
  # sanitizers, so the instrumented libraries link into the ordinary programs
  # too; only the fuzz targets link libFuzzer's own main.
  target_compile_options(zelk_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined
                                                -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(zelk_options INTERFACE -fsanitize=address,undefined)
endif()
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(zelk_options INTERFACE Threads::Threads)
endif()
