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
# PNG reading of artists' images (the header before any pixel, never applying gamma) and PNG
# writing of the images the program makes.
pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET spng)

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
