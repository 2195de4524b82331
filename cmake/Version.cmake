# The one version of the product: the programs' --version, the Windows version
# resources, the Debian package and the Windows archive all take it from
# project(... VERSION ...) through this generated header.
set(ZELK_VERSION_TWEAK ${PROJECT_VERSION_TWEAK})
if(NOT ZELK_VERSION_TWEAK)
  set(ZELK_VERSION_TWEAK 0)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/zelk_version.h.in ${PROJECT_BINARY_DIR}/generated/zelk_version.h @ONLY)
# The date of this version's release (AppStream metainfo).
set(ZELK_RELEASE_DATE "2026-12-11")
# Every target (and the resource compiler) finds zelk_version.h.
include_directories(${PROJECT_BINARY_DIR}/generated)
