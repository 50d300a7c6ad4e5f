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
# macOS (written for the Mac, not built here): a shipped bundle may not load anything from
# Homebrew at run time, so the release build (preset macos-release) uses the same option.
# Homebrew's formulae ship the static archives for ICU (libicuuc.a, libicui18n.a, libicudata.a;
# icu4c is keg-only and the macos presets put it on CMAKE_PREFIX_PATH), webp and jpeg-turbo.
# zlib is the system's libz (the SDK has no libz.a). RE2 is compiled here from the same release
# Debian ships (2022-06-01, which needs no abseil; Homebrew's newer RE2 needs abseil, which
# Homebrew builds only as shared libraries). simdjson, libspng and RE2 come unpacked under
# VELLORA_DEBIAN_SOURCE_DIR by scripts/fetch-debian-sources.sh, checked against Debian's
# checksums. UUIDs come from libSystem. The C++ runtime stays the system's libc++ (Apple supports
# no static one). `otool -L` on the host and the client must then list only
# /usr/lib/libc++.1.dylib, /usr/lib/libSystem.B.dylib (and libz) and CoreFoundation:
# scripts/check-static-link.sh checks it, as the test ShippedProgramsNeedOnlyTheCLibrary. The
# companion adds Qt's frameworks, which the bundle carries in Contents/Frameworks
# (scripts/bundle-macos.sh).
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
  if(APPLE)
    add_library(vellora_zlib INTERFACE IMPORTED GLOBAL)
    target_link_libraries(vellora_zlib INTERFACE z)
  else()
    vellora_static_archive(vellora_zlib libz.a)
  endif()
  vellora_static_archive(ICU::uc libicuuc.a libicudata.a DEPENDS Threads::Threads ${CMAKE_DL_LIBS} m)
  # i18n before uc: a static link resolves symbols left to right.
  vellora_static_archive(ICU::i18n libicui18n.a libicuuc.a libicudata.a DEPENDS ICU::uc)
  if(APPLE)
    set(re2_dir "${VELLORA_DEBIAN_SOURCE_DIR}/re2-2022-06-01")
    if(NOT EXISTS "${re2_dir}/CMakeLists.txt")
      message(FATAL_ERROR "${re2_dir} is missing: run scripts/bootstrap.sh")
    endif()
    set(RE2_BUILD_TESTING OFF CACHE BOOL "" FORCE)
    set(BUILD_SHARED_LIBS OFF)
    add_subdirectory("${re2_dir}" "${CMAKE_BINARY_DIR}/re2" EXCLUDE_FROM_ALL SYSTEM)
    add_library(PkgConfig::RE2 ALIAS re2)
  else()
    vellora_static_archive(PkgConfig::RE2 libre2.a DEPENDS Threads::Threads)
  endif()
  vellora_static_archive(PkgConfig::WEBP libwebp.a DEPENDS m)
  vellora_static_archive(PkgConfig::TURBOJPEG libturbojpeg.a)
  if(NOT APPLE)
    vellora_static_archive(PkgConfig::UUID libuuid.a)
  endif()
  # ICU's headers are the system's (the archives come from the same package).
  pkg_check_modules(ICU_HEADERS REQUIRED icu-uc)
  target_include_directories(ICU::uc SYSTEM INTERFACE ${ICU_HEADERS_INCLUDE_DIRS})
  if(NOT APPLE)
    pkg_check_modules(RE2_HEADERS REQUIRED re2)
    target_include_directories(PkgConfig::RE2 SYSTEM INTERFACE ${RE2_HEADERS_INCLUDE_DIRS})
    target_compile_options(PkgConfig::RE2 INTERFACE ${RE2_HEADERS_CFLAGS_OTHER})
  endif()

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

# stb_image_resize.h v0.97, in the tree (third_party/stb, with its licence): Homebrew has no
# formula for it, and newer stb releases replaced it with an incompatible v2.
set(STB_INCLUDE_DIR "${PROJECT_SOURCE_DIR}/third_party/stb")

if(VELLORA_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  # cpp-httplib, the fake model server's HTTP side. Debian ships it compiled, found through
  # pkg-config. Homebrew installs the single header with a CMake package, which also asks for
  # the keg-only OpenSSL it was built with; without it, the header alone serves (no TLS needed).
  pkg_check_modules(HTTPLIB QUIET IMPORTED_TARGET cpp-httplib)
  if(HTTPLIB_FOUND)
    add_library(httplib::httplib ALIAS PkgConfig::HTTPLIB)
  else()
    find_package(httplib CONFIG QUIET)
    if(NOT httplib_FOUND)
      find_path(VELLORA_HTTPLIB_INCLUDE_DIR httplib.h REQUIRED)
      add_library(httplib::httplib INTERFACE IMPORTED)
      target_include_directories(httplib::httplib SYSTEM INTERFACE ${VELLORA_HTTPLIB_INCLUDE_DIR})
      target_link_libraries(httplib::httplib INTERFACE Threads::Threads)
    endif()
  endif()
endif()
if(VELLORA_BUILD_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()
