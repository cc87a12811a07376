# Helpers that keep every library, test suite and benchmark built the same way.

set(KESTO_SOURCE_ROOT "${CMAKE_SOURCE_DIR}/Source")
set(KESTO_TESTS_ROOT "${CMAKE_SOURCE_DIR}/Tests")

# Every target, the test harness included, is instrumented: a report from any of them ends the
# process, so ctest sees it as a failure (scripts/test-sanitizers.sh). The fuzz harnesses link the
# same objects, so one build serves the suites under the sanitizers and the fuzzing
# (Tests/Fuzz/CMakeLists.txt adds the coverage the fuzzer steers by).
if(KESTO_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "KESTO_FUZZ needs clang: configure with CC=clang CXX=clang++")
endif()
if(KESTO_SANITIZE OR KESTO_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  # GCC's flow analysis misreads instrumented code: these warnings are noise in this build only.
  add_compile_options($<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
endif()

# Precompiled headers: the standard headers most files include, and per kind of target the
# test or benchmark framework and the toolkit's common headers, parsed once per target instead of
# once per file (the largest share of a cold build). KESTO_PCH=OFF builds without them.
option(KESTO_PCH "Precompile the headers most files include" ON)
set(KESTO_PCH_STD <algorithm> <atomic> <chrono> <cstdint> <functional> <map> <memory> <mutex>
  <optional> <string> <string_view> <unordered_map> <vector>)

# kesto_precompile(<target> [TEST] [BENCHMARK] [QT_WIDGETS])
# Only for targets of several compilations: a header compiled for one or two (a program of one
# file, a library of one or two unity batches) costs more than it saves. Call it after the
# target's unity batching is set.
function(kesto_precompile target)
  if(NOT KESTO_PCH)
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  list(FILTER sources INCLUDE REGEX "\\.(cpp|c)$")
  list(LENGTH sources units)
  get_target_property(unity ${target} UNITY_BUILD)
  if(unity)
    get_target_property(batch ${target} UNITY_BUILD_BATCH_SIZE)
    math(EXPR units "(${units} + ${batch} - 1) / ${batch}")
  endif()
  if(units LESS 4)
    return()
  endif()
  cmake_parse_arguments(ARG "TEST;BENCHMARK;QT_WIDGETS" "" "" ${ARGN})
  set(headers ${KESTO_PCH_STD})
  if(ARG_TEST)
    list(APPEND headers <gtest/gtest.h> <gmock/gmock.h> <filesystem> <thread>)
  endif()
  if(ARG_BENCHMARK)
    list(APPEND headers <benchmark/benchmark.h>)
  endif()
  # Only where every file works with widgets: Qt's headers define the keywords "slots",
  # "signals" and "emit" as macros, which other files use as plain names.
  if(ARG_QT_WIDGETS)
    list(APPEND headers <QObject> <QString> <QPointer> <QTimer> <QWidget> <QPainter> <QApplication>)
  endif()
  target_precompile_headers(${target} PRIVATE ${headers})
endfunction()

# Unity batches for the libraries and test programs: a batch of sources compiled as one file
# parses the headers they share once, and instantiates the templates they share once. Names in
# anonymous namespaces must therefore differ across a target's files; a file that cannot share a
# batch (system headers' macros, names it keeps) is compiled alone (kesto_add_tests ALONE).
option(KESTO_UNITY "Compile each library and test program in unity batches" ON)
function(kesto_unity target size)
  if(KESTO_UNITY)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${size})
  endif()
endfunction()

# Test code (suites, their harness and helper programs) compiles without optimisation: the code it
# tests keeps the build's level, and optimising test bodies took most of the build's time (about
# three times as long per file under the sanitizers) for no gain in what the tests check.
function(kesto_test_code target)
  target_compile_options(${target} PRIVATE -O0)
endfunction()

# -Wsubobject-linkage (gcc) reads a unity batch's files as headers: a fixture in an anonymous
# namespace would warn there.
function(kesto_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter $<$<CXX_COMPILER_ID:GNU>:-Wno-subobject-linkage>)
endfunction()

# kesto_own_sources(<variable> <patterns...>)
# The files below the calling folder that match the patterns, without those of a sub-folder that
# has a CMakeLists.txt of its own: such a folder is a library (or test suite) of its own, as a
# layer's Unused/ folder (classes the program does not use, linked only by tests) or a part that
# sits a layer above its parent folder.
function(kesto_own_sources variable)
  list(TRANSFORM ARGN PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/" OUTPUT_VARIABLE patterns)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${patterns})
  file(GLOB_RECURSE nested CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt")
  foreach(lists_file IN LISTS nested)
    get_filename_component(folder "${lists_file}" DIRECTORY)
    string(LENGTH "${folder}/" prefix_length)
    foreach(source IN LISTS sources)
      string(SUBSTRING "${source}" 0 ${prefix_length} head)
      if(head STREQUAL "${folder}/")
        list(REMOVE_ITEM sources "${source}")
      endif()
    endforeach()
  endforeach()
  set(${variable} ${sources} PARENT_SCOPE)
endfunction()

# kesto_add_library(<name> [QT] [DEPS <targets...>] [PRIVATE_DEPS <targets...>]
#                   [SOURCES <files...>] [EXCLUDE <files...>])
# Builds every .cpp below the calling folder (kesto_own_sources) into one static library, or only
# the SOURCES named, without the files named by EXCLUDE (both relative to the folder). QT marks the
# platform layers, the only places that may include Qt; their precompiled headers take Qt's
# widgets where they link them. No class declares Q_OBJECT (Qt's signals go to lambdas), so there
# is nothing for moc: AUTOMOC stays off. With Ninja it added a step to each library whose depfile
# names every source by its whole path, which Ninja cannot read where that path holds an
# apostrophe (every build was then out of date).
function(kesto_add_library name)
  cmake_parse_arguments(ARG "QT" "" "DEPS;PRIVATE_DEPS;SOURCES;EXCLUDE" ${ARGN})
  if(ARG_SOURCES)
    list(TRANSFORM ARG_SOURCES PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/" OUTPUT_VARIABLE sources)
  else()
    kesto_own_sources(sources "*.cpp" "*.c" "*.h")
  endif()
  if(ARG_EXCLUDE)
    list(TRANSFORM ARG_EXCLUDE PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
    list(REMOVE_ITEM sources ${ARG_EXCLUDE})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC "${KESTO_SOURCE_ROOT}")
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
  kesto_unity(${name} 12)
  if(ARG_QT)
    if("Qt6::Widgets" IN_LIST ARG_PRIVATE_DEPS)
      kesto_precompile(${name} QT_WIDGETS)
    else()
      kesto_precompile(${name})
    endif()
  else()
    kesto_precompile(${name})
  endif()
  kesto_warnings(${name})
endfunction()

# kesto_add_tests(<name> [GUI] [TIMEOUT <seconds>] [SHARDS <n>] [DEPS <targets...>] [ALONE <files...>])
# One GoogleTest executable from every .cpp below the calling folder (kesto_own_sources), in unity
# batches; the ALONE files (relative to the folder) are compiled on their own. Every test gets a
# fresh temporary HOME, XDG folders and state (see Tests/Harness/TestMain.cpp).
function(kesto_add_tests name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT;SHARDS" "DEPS;ALONE" ${ARGN})
  kesto_own_sources(sources "*.cpp" "*.h")
  add_executable(${name} ${sources})
  kesto_unity(${name} 8)
  list(TRANSFORM ARG_ALONE PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
  foreach(file IN LISTS ARG_ALONE)
    if(NOT file IN_LIST sources)
      message(FATAL_ERROR "${name}: ALONE names ${file}, which is not one of its sources")
    endif()
  endforeach()
  if(ARG_ALONE)
    set_source_files_properties(${ARG_ALONE} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
  endif()
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE KestoTestMainGui)
  else()
    target_link_libraries(${name} PRIVATE KestoTestMain)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock)
  target_include_directories(${name} PRIVATE "${KESTO_TESTS_ROOT}" "${CMAKE_CURRENT_SOURCE_DIR}")
  kesto_precompile(${name} TEST)
  kesto_test_code(${name})
  # KESTO_TEST_ACCESS opens the layers' test-access headers (Platform/*/TestAccess_p.h), which
  # no library or program can include.
  target_compile_definitions(${name} PRIVATE KESTO_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}/Data"
    KESTO_SOURCE_DIR="${CMAKE_SOURCE_DIR}" KESTO_BINARY_DIR="${CMAKE_BINARY_DIR}" KESTO_TEST_ACCESS)
  kesto_warnings(${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 900)
  endif()
  kesto_register_test_program(${name} ${ARG_TIMEOUT} "${ARG_SHARDS}")
endfunction()

# kesto_register_test_program(<program> <timeout> [<shards>])
# A test program runs whole, as a developer runs it: one ctest entry per shard (gtest's own
# sharding), each a process that runs its part of the tests one after the other. Starting a
# process per test cost more than the tests themselves; the harness gives every test a fresh
# home and state, so running together changes nothing. Long programs get more shards, so two
# cores stay busy to the end.
function(kesto_register_test_program name timeout shards)
  if(NOT shards)
    set(shards 1)
  endif()
  math(EXPR last "${shards} - 1")
  foreach(index RANGE ${last})
    set(test ${name})
    if(shards GREATER 1)
      set(test ${name}.${index})
    endif()
    add_test(NAME ${test} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${test} PROPERTIES TIMEOUT ${timeout} LABELS unit
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;GTEST_TOTAL_SHARDS=${shards};GTEST_SHARD_INDEX=${index}")
    kesto_test_environment(${test})
  endforeach()
endfunction()

# What a test run writes stays in the build folder: every test registered here gets a temporary
# folder there (TMPDIR), which the harness and the private X session make when it is missing. Like
# /tmp, anyone may write there (each test makes a private folder of its own inside): a build handed
# to its user by a run through sudo is tested again as root, also from user namespaces. Sockets
# alone lie elsewhere, in short runtime folders in the system's temporary folder, since a socket's
# path holds at most 107 bytes (Tests/Harness/TestMain.cpp, Tests/Harness/e2e/xvfb-session.sh).
set(KESTO_TEST_TMPDIR "${CMAKE_BINARY_DIR}/tmp")
file(MAKE_DIRECTORY "${KESTO_TEST_TMPDIR}")
execute_process(COMMAND chmod 1777 "${KESTO_TEST_TMPDIR}")

# kesto_test_environment(<test>...): the environment every test runs in (see KESTO_TEST_TMPDIR).
function(kesto_test_environment)
  foreach(test IN LISTS ARGN)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT "TMPDIR=${KESTO_TEST_TMPDIR}")
  endforeach()
endfunction()

# kesto_add_refusal_tests(<prefix> <source> [IMPL_OF <classes...>] [HEADERS <name> <message> ...])
# Compile checks of a layer's seal: each compiles a file of the calling folder as code outside the
# layer would (the source root on the include path, no layer's or test suite's macros) with one
# macro set, and passes only when the compiler refuses it with the expected message. IMPL_OF
# <class> sets CALL_IMPL_OF_<class> (the file calls the class's impl(), which must be private);
# HEADERS <name> <message> sets INCLUDE_<name> (the file includes a private header, which must
# stop with the message).
function(kesto_add_refusal_tests prefix source)
  cmake_parse_arguments(ARG "" "" "IMPL_OF;HEADERS" ${ARGN})
  set(cases "")
  foreach(class IN LISTS ARG_IMPL_OF)
    list(APPEND cases "${class}Impl" "CALL_IMPL_OF_${class}"
      "is private within this context|is a private member of")
  endforeach()
  while(ARG_HEADERS)
    list(POP_FRONT ARG_HEADERS header message)
    list(APPEND cases "${header}Header" "INCLUDE_${header}" "${message}")
  endwhile()
  while(cases)
    list(POP_FRONT cases name macro message)
    add_test(NAME ${prefix}.${name}
      COMMAND "${CMAKE_CXX_COMPILER}" -std=c++20 -fsyntax-only -D${macro} "-I${KESTO_SOURCE_ROOT}"
              "${CMAKE_CURRENT_SOURCE_DIR}/${source}")
    set_tests_properties(${prefix}.${name} PROPERTIES PASS_REGULAR_EXPRESSION "${message}" TIMEOUT 60)
    kesto_test_environment(${prefix}.${name})
  endwhile()
endfunction()

# An end-to-end script's pace is the machine's: its own waits carry their deadlines, on the wall
# clock, and the bound CTest keeps is its time on an idle machine (the timeout each script is
# registered with) times this factor. Beside other work at a load of many times the cores, scripts
# took three to six times as long and hit the bare figures; a hung script still ends, within the
# run's time.
set(KESTO_E2E_TIMEOUT_FACTOR 6 CACHE STRING "End-to-end scripts may take this many times their registered timeout")

# kesto_add_e2e_test(<name> <timeout> <script> [args...])
# Runs the script of the calling folder's e2e/ with the arguments given inside a private X session
# (Tests/Harness/e2e/xvfb-session.sh); a script that lacks a tool exits 77, counted as skipped.
# `timeout` is what the script takes at most on an idle machine (see KESTO_E2E_TIMEOUT_FACTOR).
function(kesto_add_e2e_test name timeout script)
  add_test(NAME ${name}
    COMMAND "${CMAKE_SOURCE_DIR}/Tests/Harness/e2e/xvfb-session.sh" --
            bash "${CMAKE_CURRENT_SOURCE_DIR}/e2e/${script}" ${ARGN})
  math(EXPR bound "${timeout} * ${KESTO_E2E_TIMEOUT_FACTOR}")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${bound} SKIP_RETURN_CODE 77 LABELS e2e)
  kesto_test_environment(${name})
endfunction()

# kesto_add_app_e2e_test(<name> <timeout> <script> [SHOTS] [ARGS <args...>])
# An end-to-end script that drives the real program: it is handed the kesto program, then ARGS,
# then with SHOTS a folder of the build named after the script to leave its screenshots in.
function(kesto_add_app_e2e_test name timeout script)
  cmake_parse_arguments(ARG "SHOTS" "" "ARGS" ${ARGN})
  set(args "$<TARGET_FILE:kesto>" ${ARG_ARGS})
  if(ARG_SHOTS)
    get_filename_component(stem "${script}" NAME_WE)
    list(APPEND args "${CMAKE_CURRENT_BINARY_DIR}/${stem}")
  endif()
  kesto_add_e2e_test(${name} ${timeout} ${script} ${args})
endfunction()

# kesto_use_fake_skyfolder(<target>)
# Compiles the Skyfolder client's loopback fake service and its test certificates (Tests/Skyfolder)
# into a test or benchmark executable. The calling folder has found cpp-httplib as HTTPLIB.
function(kesto_use_fake_skyfolder target)
  target_sources(${target} PRIVATE "${CMAKE_SOURCE_DIR}/Tests/Skyfolder/FakeSkyfolder.cpp"
    "${CMAKE_SOURCE_DIR}/Tests/Skyfolder/TestPKI.cpp")
  target_include_directories(${target} PRIVATE "${CMAKE_SOURCE_DIR}/Tests/Skyfolder")
  target_link_libraries(${target} PRIVATE PkgConfig::HTTPLIB OpenSSL::SSL OpenSSL::Crypto ZLIB::ZLIB Threads::Threads)
endfunction()

# kesto_add_benchmark(<name> [DEPS <targets...>]): a Google Benchmark executable from the .cpp
# files of the calling folder. Built by the normal build, never run by the tests.
function(kesto_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp" "${CMAKE_CURRENT_SOURCE_DIR}/*.h")
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
  target_include_directories(${name} PRIVATE "${CMAKE_SOURCE_DIR}/Benchmarks")
  kesto_precompile(${name} BENCHMARK)
  kesto_warnings(${name})
endfunction()

# kesto_check_layers(<target> FORBIDDEN <targets...>)
# Fails the configuration when `target` reaches one of FORBIDDEN through its libraries, directly
# or through other Kesto libraries: a layer that starts linking upward is caught here rather
# than when the cycle finally stops the build.
function(kesto_check_layers target)
  cmake_parse_arguments(ARG "" "" "FORBIDDEN" ${ARGN})
  if(NOT TARGET ${target})
    return()
  endif()
  set(seen "")
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    if(current IN_LIST seen OR NOT TARGET ${current})
      continue()
    endif()
    list(APPEND seen ${current})
    get_target_property(libs ${current} LINK_LIBRARIES)
    if(NOT libs)
      continue()
    endif()
    foreach(lib IN LISTS libs)
      if(lib IN_LIST ARG_FORBIDDEN)
        message(FATAL_ERROR "${target} must not link ${lib} (through ${current}): the layers point one way")
      endif()
      if(lib MATCHES "^Kesto")
        list(APPEND queue ${lib})
      endif()
    endforeach()
  endwhile()
endfunction()
