# Shared settings for every target of the project's own code.
set(CORVANE_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror)
# GCC 12 reports impossible overlaps in inlined std::string concatenation at -O2 and above
# (a known false positive); it would fail optimised builds of correct code.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND CORVANE_WARNINGS -Wno-restrict)
  # Likewise for a string member of an aggregate built from a base class, once inlined (-O2 and up).
  list(APPEND CORVANE_WARNINGS $<$<NOT:$<CONFIG:Debug>>:-Wno-maybe-uninitialized>)
endif()

# Every target of ours links this publicly, so each one, corvane_app included, passes C++20 on to
# whatever links it, also outside this project's global CMAKE_CXX_STANDARD.
add_library(corvane_options INTERFACE)
target_compile_features(corvane_options INTERFACE cxx_std_20)
target_compile_options(corvane_options INTERFACE ${CORVANE_WARNINGS})
target_compile_definitions(corvane_options INTERFACE
  CORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  CORVANE_VERSION="${PROJECT_VERSION}"
  CORVANE_BUILD_NUMBER="${CORVANE_BUILD_NUMBER}")
if(CORVANE_TSAN)
  # GCC warns about every atomic fence the race detector cannot see, the standard library's included.
  target_compile_options(corvane_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer -Wno-tsan)
  target_link_options(corvane_options INTERFACE -fsanitize=thread)
endif()
if(CORVANE_SANITIZE)
  target_compile_options(corvane_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(corvane_options INTERFACE -fsanitize=address,undefined)
endif()

# corvane_library(NAME SOURCES files... DEPS libs... PRIVATE_DEPS libs...)
# DEPS are what the library's headers need (passed on to its users); PRIVATE_DEPS stay inside it.
function(corvane_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_features(${name} PUBLIC cxx_std_20)
  target_link_libraries(${name} PUBLIC corvane_options ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()

# What every test process runs with: the options of whichever sanitizer the build has (each
# runtime reads only its own variable).
set(CORVANE_TEST_ENVIRONMENT
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
if(CORVANE_TSAN)
  list(APPEND CORVANE_TEST_ENVIRONMENT "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
endif()

# How long CTest lets one test run before calling it a hang: well above the longest part's time
# beside a machine kept busy with three times as many busy threads as it has cores.
set(CORVANE_TEST_TIMEOUT 1200)

# corvane_test(NAME SOURCES files... DEPS libs... [SHARDS n]): one GoogleTest executable per
# folder. With SHARDS it runs as n tests (NAME_0 ... NAME_<n-1>), each a share of its cases, so
# that a long suite's parts run beside each other and each stays well within the time-out.
function(corvane_test name)
  cmake_parse_arguments(ARG "" "SHARDS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE corvane_options ${ARG_DEPS} corvane_test_support
    GTest::gtest GTest::gmock GTest::gtest_main)
  if(NOT ARG_SHARDS)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${CORVANE_TEST_ENVIRONMENT}"
      TIMEOUT ${CORVANE_TEST_TIMEOUT})
    return()
  endif()
  math(EXPR last "${ARG_SHARDS} - 1")
  foreach(shard RANGE ${last})
    add_test(NAME ${name}_${shard} COMMAND ${name})
    set_tests_properties(${name}_${shard} PROPERTIES
      ENVIRONMENT "${CORVANE_TEST_ENVIRONMENT};GTEST_TOTAL_SHARDS=${ARG_SHARDS};GTEST_SHARD_INDEX=${shard}"
      TIMEOUT ${CORVANE_TEST_TIMEOUT})
  endforeach()
endfunction()
