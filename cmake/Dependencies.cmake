# Dependencies come from the system (Debian packages, Homebrew) when it has them; otherwise they
# are built from a pinned release archive, checked against its hash. Setting
# FETCHCONTENT_TRY_FIND_PACKAGE_MODE=NEVER always builds them from source (universal macOS
# builds need that: a package manager's libraries cover one architecture).
include(FetchContent)

# A dependency built from source (`name`, with the `targets` qkscan links) is part of this build
# only for what qkscan links: its directory is excluded from "all", which also keeps its install
# rules (headers, libraries, package files) out of qkscan's install. Its targets are system
# targets, so that their headers are system headers here as installed ones are, and the project's
# warnings (errors in CI) do not apply to them: simdjson's arm64 code has C-style casts. (The
# SYSTEM option of FetchContent_Declare would do the latter, but CMake 3.25.1 passes it on to the
# download step, which fails.)
function(qk_built_from_source name)
  FetchContent_GetProperties(${name})
  # Found as a package, it counts as populated too, but without a source directory.
  if(NOT ${name}_POPULATED OR NOT ${name}_SOURCE_DIR)
    return()
  endif()
  set_property(DIRECTORY ${${name}_SOURCE_DIR} PROPERTY EXCLUDE_FROM_ALL TRUE)
  set_property(TARGET ${ARGN} PROPERTY SYSTEM TRUE)
endfunction()

# simdjson 3 or 4, from the system (Debian 12 has 3.0.1, Homebrew 4.x), or else 3.0.1 built from
# its pinned archive. No version is asked of find_package: simdjson's package files accept only
# their own major and minor version, so asking for 3 would refuse 3.6 and every 4.x. The version
# found is checked below instead.
set(QKSCAN_SIMDJSON_URL "https://github.com/simdjson/simdjson/archive/refs/tags/v3.0.1.tar.gz"
  CACHE STRING "Where simdjson's pinned release archive comes from when it is built from source (a URL; file:// for a local copy)")
FetchContent_Declare(simdjson
  URL ${QKSCAN_SIMDJSON_URL}
  URL_HASH SHA256=156b1bc5eb0561b2bd166b46d191fd3d95a3e709cc63761477d3b7aec2b6e9ed
  FIND_PACKAGE_ARGS CONFIG)
set(SIMDJSON_DEVELOPER_MODE OFF CACHE BOOL "" FORCE)
FetchContent_MakeAvailable(simdjson)
qk_built_from_source(simdjson simdjson)
if(simdjson_FOUND AND (simdjson_VERSION VERSION_LESS 3 OR simdjson_VERSION VERSION_GREATER_EQUAL 5))
  message(FATAL_ERROR "simdjson ${simdjson_VERSION} (${simdjson_DIR}) is neither 3.x nor 4.x, "
    "which qkscan builds with: install one of those, or configure with "
    "-DFETCHCONTENT_TRY_FIND_PACKAGE_MODE=NEVER to build the pinned 3.0.1")
endif()

if(QKSCAN_BUILD_TESTS)
  FetchContent_Declare(googletest
    URL https://github.com/google/googletest/archive/refs/tags/release-1.12.1.tar.gz
    URL_HASH SHA256=81964fe578e9bd7c94dfdb09c8e4d6e6759e19967e397dbea48d1c10e45d0df2
      FIND_PACKAGE_ARGS NAMES GTest CONFIG)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # With Visual Studio's compiler, the same C runtime (the DLL one) as the rest of the build.
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  FetchContent_MakeAvailable(googletest)
  qk_built_from_source(googletest gtest gtest_main)
endif()
