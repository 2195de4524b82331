# nlohmann-json is header-only: the Debian package serves the cross build too.
find_path(ZELK_NLOHMANN_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
add_library(zelk_json INTERFACE)
if(CMAKE_CROSSCOMPILING)
  # Pointing the cross compiler at the host's /usr/include would pull in the host's C
  # library headers: give it a copy of the json headers alone.
  file(COPY ${ZELK_NLOHMANN_INCLUDE}/nlohmann DESTINATION ${CMAKE_BINARY_DIR}/third_party/include)
  target_include_directories(zelk_json SYSTEM INTERFACE ${CMAKE_BINARY_DIR}/third_party/include)
else()
  target_include_directories(zelk_json SYSTEM INTERFACE ${ZELK_NLOHMANN_INCLUDE})
endif()

if(ZELK_BUILD_TESTS)
  if(WIN32)
    # Debian ships GoogleTest's sources; build them with the cross compiler.
    set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(lib gtest gtest_main gmock)
      if(NOT TARGET GTest::${lib})
        add_library(GTest::${lib} ALIAS ${lib})
      endif()
    endforeach()
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()
