# Warnings and sanitizers shared by every target of the project.
add_library(zelk_options INTERFACE)
target_compile_options(zelk_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                                              -Wno-sign-conversion)
if(ZELK_WERROR)
  target_compile_options(zelk_options INTERFACE -Werror)
endif()
if(ZELK_SANITIZE)
  target_compile_options(zelk_options INTERFACE -fsanitize=${ZELK_SANITIZE} -fno-omit-frame-pointer
                                                -fno-sanitize-recover=all)
  target_link_options(zelk_options INTERFACE -fsanitize=${ZELK_SANITIZE})
endif()
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(zelk_options INTERFACE Threads::Threads)
endif()
