# nlohmann-json is header-only: the Debian package serves the cross build too.
find_path(ZELK_NLOHMANN_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(zelk_json INTERFACE)
target_include_directories(zelk_json SYSTEM INTERFACE ${ZELK_NLOHMANN_INCLUDE})

if(ZELK_BUILD_TESTS)
  if(WIN32)
    # Debian ships GoogleTest's sources; build them with the cross compiler.
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gmock ALIAS gmock)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()
