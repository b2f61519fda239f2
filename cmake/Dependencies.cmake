# Every dependency comes from a Debian package (tools/install-deps.sh installs them).
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(ZLIB REQUIRED)
find_package(BZip2 REQUIRED)
find_package(LibLZMA REQUIRED)
pkg_check_modules(LIBMD REQUIRED IMPORTED_TARGET libmd)
pkg_check_modules(DIVSUFSORT REQUIRED IMPORTED_TARGET libdivsufsort)
# The build cache's keys and self-checks (XXH3).
pkg_check_modules(XXHASH REQUIRED IMPORTED_TARGET libxxhash)
# PNG decoding of artists' images (reads the header before any pixel, never applies gamma).
pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET spng)

# FreeImage ships no CMake or pkg-config file on Debian.
find_path(FREEIMAGE_INCLUDE_DIR FreeImage.h REQUIRED)
find_library(FREEIMAGE_LIBRARY freeimage REQUIRED)
add_library(FreeImage::FreeImage UNKNOWN IMPORTED)
set_target_properties(FreeImage::FreeImage PROPERTIES IMPORTED_LOCATION ${FREEIMAGE_LIBRARY}
                                                      INTERFACE_INCLUDE_DIRECTORIES ${FREEIMAGE_INCLUDE_DIR})

find_package(CLI11 CONFIG REQUIRED)
find_package(nlohmann_json CONFIG REQUIRED)

if(ZELVO_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
endif()
if(ZELVO_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(ZELVO_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()
