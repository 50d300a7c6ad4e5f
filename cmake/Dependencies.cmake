# System libraries. scripts/bootstrap.sh installs them on Debian and names the Homebrew formulae.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(SIMDJSON REQUIRED IMPORTED_TARGET simdjson)
find_package(ICU REQUIRED COMPONENTS uc i18n)
pkg_check_modules(RE2 REQUIRED IMPORTED_TARGET re2)
pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET spng)
pkg_check_modules(WEBP REQUIRED IMPORTED_TARGET libwebp)
pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
if(NOT APPLE)
  pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
endif()

find_path(STB_INCLUDE_DIR stb_image_resize.h PATH_SUFFIXES stb REQUIRED)

if(VELLORA_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(VELLORA_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
