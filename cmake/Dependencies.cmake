# System libraries. scripts/bootstrap.sh installs them on Debian and names the Homebrew formulae.
#
# VELLORA_STATIC_LINK (on in the release preset) links every third-party library into the
# programs from static archives, and the C++ runtime too, so that a program needs nothing at
# run time beyond the C library: Chrome starts the host for every connection, and resolving a
# dozen shared libraries was most of its start-up. Debian ships archives for ICU (with its
# data), RE2, libwebp, TurboJPEG, libuuid and zlib; simdjson and libspng have none, so they are
# compiled here from their Debian source packages, which scripts/fetch-debian-sources.sh
# unpacks into VELLORA_DEBIAN_SOURCE_DIR (scripts/bootstrap.sh runs it).
#
# macOS (not built here): a shipped bundle may not load anything from Homebrew at run time, so
# the release build uses the same option. Homebrew's formulae ship the static archives this file
# looks for (icu4c's libicuuc.a, libicui18n.a and libicudata.a, re2, webp, jpeg-turbo; icu4c is
# keg-only, so configure with CMAKE_PREFIX_PATH="$(brew --prefix icu4c)"; Homebrew's newer re2
# and webp also need abseil's archives and libsharpyuv.a added here), and simdjson 3.0.1 and
# libspng 0.7.3 are compiled from their release sources unpacked under VELLORA_DEBIAN_SOURCE_DIR
# in the same layout. UUIDs come from libSystem. The C++ runtime stays the system's libc++ (Apple
# supports no static one). `otool -L` on the host should then list only
# /usr/lib/libc++.1.dylib and /usr/lib/libSystem.B.dylib; the companion adds Qt's frameworks,
# which the bundle carries in Contents/Frameworks and finds through @rpath.
option(VELLORA_STATIC_LINK "Link third-party libraries and the C++ runtime statically" OFF)

find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

if(VELLORA_STATIC_LINK)
  set(VELLORA_DEBIAN_SOURCE_DIR "$ENV{HOME}/.cache/vellora/debian-src" CACHE PATH
      "Where scripts/fetch-debian-sources.sh unpacked simdjson and libspng")

  # vellora_static_archive(<target> <archive file names...> [DEPENDS <targets...>]): an
  # imported target made of the named archives (found on the system's library path).
  function(vellora_static_archive TARGET)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    set(archives)
    foreach(name IN LISTS ARG_UNPARSED_ARGUMENTS)
      find_library(VELLORA_ARCHIVE_${name} NAMES ${name} REQUIRED)
      list(APPEND archives ${VELLORA_ARCHIVE_${name}})
    endforeach()
    add_library(${TARGET} INTERFACE IMPORTED GLOBAL)
    target_link_libraries(${TARGET} INTERFACE ${archives} ${ARG_DEPENDS})
  endfunction()

  # The targets keep the names the dynamic build uses, so that nothing else changes.
  vellora_static_archive(vellora_zlib libz.a)
  vellora_static_archive(ICU::uc libicuuc.a libicudata.a DEPENDS Threads::Threads ${CMAKE_DL_LIBS} m)
  # i18n before uc: a static link resolves symbols left to right.
  vellora_static_archive(ICU::i18n libicui18n.a libicuuc.a libicudata.a DEPENDS ICU::uc)
  vellora_static_archive(PkgConfig::RE2 libre2.a DEPENDS Threads::Threads)
  vellora_static_archive(PkgConfig::WEBP libwebp.a DEPENDS m)
  vellora_static_archive(PkgConfig::TURBOJPEG libturbojpeg.a)
  if(NOT APPLE)
    vellora_static_archive(PkgConfig::UUID libuuid.a)
  endif()
  # ICU's headers are the system's (the archives come from the same package).
  pkg_check_modules(ICU_HEADERS REQUIRED icu-uc)
  target_include_directories(ICU::uc SYSTEM INTERFACE ${ICU_HEADERS_INCLUDE_DIRS})
  pkg_check_modules(RE2_HEADERS REQUIRED re2)
  target_include_directories(PkgConfig::RE2 SYSTEM INTERFACE ${RE2_HEADERS_INCLUDE_DIRS})
  target_compile_options(PkgConfig::RE2 INTERFACE ${RE2_HEADERS_CFLAGS_OTHER})

  # simdjson: its single-file build, as the package's own sources ship it.
  set(simdjson_dir "${VELLORA_DEBIAN_SOURCE_DIR}/simdjson-3.0.1/singleheader")
  if(NOT EXISTS "${simdjson_dir}/simdjson.cpp")
    message(FATAL_ERROR "${simdjson_dir}/simdjson.cpp is missing: run scripts/bootstrap.sh")
  endif()
  add_library(vellora_simdjson STATIC "${simdjson_dir}/simdjson.cpp")
  target_include_directories(vellora_simdjson SYSTEM PUBLIC "${simdjson_dir}")
  set_target_properties(vellora_simdjson PROPERTIES CXX_STANDARD 17 CXX_EXTENSIONS OFF)
  add_library(PkgConfig::SIMDJSON ALIAS vellora_simdjson)

  # libspng, configured as Debian builds it (no architecture-specific filters).
  set(spng_dir "${VELLORA_DEBIAN_SOURCE_DIR}/libspng-0.7.3/spng")
  if(NOT EXISTS "${spng_dir}/spng.c")
    message(FATAL_ERROR "${spng_dir}/spng.c is missing: run scripts/bootstrap.sh")
  endif()
  add_library(vellora_spng STATIC "${spng_dir}/spng.c")
  target_include_directories(vellora_spng SYSTEM PUBLIC "${spng_dir}")
  target_compile_definitions(vellora_spng PUBLIC SPNG_STATIC PRIVATE SPNG_DISABLE_OPT)
  target_link_libraries(vellora_spng PUBLIC vellora_zlib m)
  add_library(PkgConfig::SPNG ALIAS vellora_spng)

else()
  pkg_check_modules(SIMDJSON REQUIRED IMPORTED_TARGET simdjson)
  find_package(ICU REQUIRED COMPONENTS uc i18n)
  pkg_check_modules(RE2 REQUIRED IMPORTED_TARGET re2)
  pkg_check_modules(SPNG REQUIRED IMPORTED_TARGET spng)
  pkg_check_modules(WEBP REQUIRED IMPORTED_TARGET libwebp)
  pkg_check_modules(TURBOJPEG REQUIRED IMPORTED_TARGET libturbojpeg)
  if(NOT APPLE)
    pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
  endif()
endif()

# vellora_link_runtime_statically(<target>): with VELLORA_STATIC_LINK, the program carries the C++
# runtime (libstdc++ and libgcc) itself; libc stays shared. Only for the programs we ship: tests
# and benchmarks link Debian's shared GoogleTest and Google Benchmark, which bring their own.
# The program stays position-independent (address randomisation); its relative relocations are
# packed (DT_RELR, where the linker and C library know it), which keeps the dynamic loader from
# reading a 200 KB relocation table at every start.
if(VELLORA_STATIC_LINK AND NOT APPLE)
  include(CheckLinkerFlag)
  check_linker_flag(CXX "-Wl,-z,pack-relative-relocs" VELLORA_LINKER_PACKS_RELOCATIONS)
endif()
function(vellora_link_runtime_statically TARGET)
  if(VELLORA_STATIC_LINK AND NOT APPLE)
    target_link_options(${TARGET} PRIVATE -static-libstdc++ -static-libgcc)
    if(VELLORA_LINKER_PACKS_RELOCATIONS)
      target_link_options(${TARGET} PRIVATE -Wl,-z,pack-relative-relocs)
    endif()
  endif()
endfunction()

find_path(STB_INCLUDE_DIR stb_image_resize.h PATH_SUFFIXES stb REQUIRED)

if(VELLORA_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(VELLORA_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
