# What every compilation runs through. Included before any target is made.

# ccache (in the user's cache folder) with paths taken relative to the source tree and the build
# folder left out of the hash, so a fresh clone elsewhere (CI) reuses what an earlier build of the
# same sources compiled; the sloppiness lets it cache files built with precompiled headers.
# Where the checkout's or the build folder's path holds a space or a character Ninja stops at
# (below), ccache leaves the whole paths in the depfiles it keeps, and hands them to a build of the
# same sources in any other checkout: that build's Ninja then follows files of another checkout,
# or finds them missing and compiles again on every build. There it is left out.
set(kesto_launcher "")
set(kesto_depfile_breakers "[\"'&*;<>?^`|]")
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM AND NOT "${CMAKE_SOURCE_DIR}${CMAKE_BINARY_DIR}" MATCHES "[ \"'&*;<>?^`|]")
  set(kesto_launcher "${CMAKE_COMMAND}" -E env "CCACHE_BASEDIR=${CMAKE_SOURCE_DIR}" CCACHE_NOHASHDIR=1
    "CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime" "${CCACHE_PROGRAM}")
endif()

# Ninja (1.11) reads none of ' " & * ; < > ? ^ ` | in a depfile: it cuts a path there in two,
# neither half exists, and so every object is compiled again on each build. Where the checkout's or
# the build folder's path holds one, each compilation's depfile names what lies below them relative
# to the build folder, where Ninja runs.
if(CMAKE_GENERATOR MATCHES "Ninja" AND "${CMAKE_SOURCE_DIR}${CMAKE_BINARY_DIR}" MATCHES "${kesto_depfile_breakers}")
  file(RELATIVE_PATH kesto_source_from_build "${CMAKE_BINARY_DIR}" "${CMAKE_SOURCE_DIR}")
  set(kesto_launcher bash "${CMAKE_CURRENT_LIST_DIR}/relative-depfile.sh"
    "${CMAKE_BINARY_DIR}" "${CMAKE_SOURCE_DIR}" "${kesto_source_from_build}")
endif()

if(kesto_launcher)
  set(CMAKE_C_COMPILER_LAUNCHER ${kesto_launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${kesto_launcher})
endif()
