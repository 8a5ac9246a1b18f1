# Precompiled headers (GW_PCH): what nearly every file of a target parses and none of them
# changes. The libraries below the ASN.1 run-time get the standard headers they use most,
# the run-time and the message modules the ASN.1 run-time, the libraries above them and the
# benchmarks also the controller protocol's classes (with the modules they include), the test
# programs the run-time, the controller protocol's classes and the test framework.
# The first target that asks for a set of headers precompiles it; the others reuse that
# one (the targets that share a set are compiled with the same flags; one that would not
# fit is a warning, -Winvalid-pch).
set(GW_PCH_STD <algorithm> <deque> <functional> <iostream> <map> <memory> <optional> <sstream>
               <string> <vector>)
set(GW_PCH_ASN1 [["asn1/asn1.h"]])
set(GW_PCH_MESSAGES ${GW_PCH_ASN1} [["messages/zgcp.h"]])
# The mocking library's matchers are left out: the few files that use them include them, and
# its share of the header made every other test file load a fifth more.
set(GW_PCH_GTEST <gtest/gtest.h>)
set(GW_PCH_TESTS ${GW_PCH_ASN1} [["messages/zgcp.h"]] ${GW_PCH_GTEST})

# gw_precompile(<target> <header>...): precompiles the headers for the target's sources.
function(gw_precompile target)
  if(NOT GW_PCH OR NOT ARGN)
    return()
  endif()
  string(MD5 set "${ARGN}")
  # The generated message headers must be there before the header is compiled.
  if("${ARGN}" MATCHES "messages/")
    add_dependencies(${target} messages)
  endif()
  get_property(owner GLOBAL PROPERTY GW_PCH_${set})
  if(owner)
    target_precompile_headers(${target} REUSE_FROM ${owner})
  else()
    set_property(GLOBAL PROPERTY GW_PCH_${set} ${target})
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()

# gw_test_program(<target>): what every test program gets. Its own code is compiled without
# optimisation: the code under test keeps the configuration's flags, while the tests'
# assertions, which expand into much code, compile in half the time at -O0, with every
# sanitizer check and the debugging information of the configuration kept. It is linked by
# gold, which links the test programs in half the time of the default linker.
function(gw_test_program target)
  target_compile_options(${target} PRIVATE -O0)
  target_link_options(${target} PRIVATE -fuse-ld=gold)
endfunction()

# gw_subsystem(<name> [LINKS <libs>...] [TEST_LINKS <libs>...] [EXCLUDE <sources>...])
#
# Builds the static library <name> from every *.cpp of the calling folder except the
# unit tests (*_test.cpp), program entries (*_main.cpp) and the sources excluded (which
# the folder builds itself), and, when tests are on, the GoogleTest executable <name>_tests
# from those unit tests, registered with CTest.
function(gw_subsystem name)
  cmake_parse_arguments(GW "" "" "LINKS;TEST_LINKS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB mains CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_main.cpp)
  list(TRANSFORM GW_EXCLUDE PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  if(tests OR mains OR GW_EXCLUDE)
    list(REMOVE_ITEM sources ${tests} ${mains} ${GW_EXCLUDE})
  endif()
  if("messages" IN_LIST GW_LINKS)
    set(headers ${GW_PCH_MESSAGES})
  elseif(name STREQUAL "asn1" OR "asn1" IN_LIST GW_LINKS)
    set(headers ${GW_PCH_ASN1})
  else()
    set(headers ${GW_PCH_STD})
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    target_link_libraries(${name} PUBLIC ${GW_LINKS})
    gw_precompile(${name} ${headers})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    target_link_libraries(${name} INTERFACE ${GW_LINKS})
  endif()
  if(GW_TESTS AND tests)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE ${name} ${GW_TEST_LINKS}
                          GTest::gmock GTest::gtest GTest::gtest_main)
    gw_test_program(${name}_tests)
    if(name STREQUAL "asn1")
      # Its tests define classes of their own in the protocol's namespaces.
      gw_precompile(${name}_tests ${GW_PCH_ASN1} ${GW_PCH_GTEST})
    else()
      gw_precompile(${name}_tests ${GW_PCH_TESTS})
    endif()
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# gw_benchmark(<name> <sources>... LINKS <libs>...): a Google Benchmark program.
function(gw_benchmark name)
  cmake_parse_arguments(GW "" "" "LINKS" ${ARGN})
  add_executable(${name} ${GW_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${GW_LINKS} benchmark::benchmark benchmark::benchmark_main)
  if("messages" IN_LIST GW_LINKS)
    gw_precompile(${name} ${GW_PCH_MESSAGES})
  endif()
endfunction()

# The header of the fuzzing engine's input reader (FuzzedDataProvider), which the replays
# of the targets that use it compile with g++ too: copied alone into the build tree, since
# the folder it comes from holds the other compiler's own standard headers.
file(GLOB GW_FUZZER_HEADERS /usr/lib/llvm-*/lib/clang/*/include/fuzzer/FuzzedDataProvider.h)
if(GW_FUZZER_HEADERS)
  list(GET GW_FUZZER_HEADERS 0 GW_FUZZER_HEADER)
  set(GW_FUZZER_INCLUDE ${PROJECT_BINARY_DIR}/fuzzer_include)
  file(COPY ${GW_FUZZER_HEADER} DESTINATION ${GW_FUZZER_INCLUDE}/fuzzer)
endif()

# The headers the replays' own code parses: the standard library's, and for the targets that
# use the protocol (through the test helpers or the messages), the ASN.1 run-time and the
# controller protocol's classes. Precompiled once for all replays at -O0, by an object
# library of their own (a library's would not fit: it is compiled with optimisation).
set(GW_PCH_REPLAY_STD ${GW_PCH_STD} <filesystem> <fstream>)
set(GW_PCH_REPLAY_MESSAGES ${GW_PCH_REPLAY_STD} ${GW_PCH_ASN1} [["messages/zgcp.h"]])

# gw_replay_headers(<target> <kind>): the replays' precompiled headers of the kind (STD or
# MESSAGES) for the target, made by the first replay that needs them.
function(gw_replay_headers target kind)
  if(NOT GW_PCH)
    return()
  endif()
  set(owner gw_replay_headers_${kind})
  if(NOT TARGET ${owner})
    set(source ${PROJECT_BINARY_DIR}/${owner}.cpp)
    file(WRITE ${source} "// The replays' precompiled headers (cmake/gw.cmake).\n")
    add_library(${owner} OBJECT ${source})
    target_include_directories(${owner} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    gw_test_program(${owner})
    if(kind STREQUAL "MESSAGES")
      add_dependencies(${owner} messages)
    endif()
    target_precompile_headers(${owner} PRIVATE ${GW_PCH_REPLAY_${kind}})
  endif()
  target_precompile_headers(${target} REUSE_FROM ${owner})
endfunction()

# gw_replay_main(): the replays' entry (main), which is the same for every target: compiled
# once, as their own code is, into an object library that each replay links.
function(gw_replay_main)
  if(TARGET gw_replay_main)
    return()
  endif()
  add_library(gw_replay_main OBJECT ${PROJECT_SOURCE_DIR}/tests/fuzz/replay_main.cpp)
  gw_test_program(gw_replay_main)
  gw_replay_headers(gw_replay_main STD)
endfunction()

# gw_fuzz_support(<name> <sources>... [LINKS <libs>...]): code of their own that several fuzz
# targets (or a target and a test program) share, compiled once into the object library
# <name>, which the targets list among their LINKS; in a test build as the replays' own code
# is (without optimisation, with their precompiled headers).
function(gw_fuzz_support name)
  cmake_parse_arguments(GW "" "" "LINKS" ${ARGN})
  add_library(${name} OBJECT ${GW_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
  target_link_libraries(${name} PRIVATE ${GW_LINKS})
  if(GW_TESTS)
    gw_test_program(${name})
    gw_replay_headers(${name} MESSAGES)
  endif()
endfunction()

# gw_fuzz_target(<name> <sources>... CORPUS <folder> [LINKS <libs>...]): a fuzz target of one
# input surface, whose entry point is LLVMFuzzerTestOneInput in <sources>.
# - GW_FUZZ builds: the libFuzzer program <name>, for the long runs.
# - GW_TESTS builds: the program <name>_replay, which passes every file of the corpus folder
#   (relative to the calling folder: the target's seeds and every input that ever found a
#   fault) through the same entry point, registered with CTest as <name>.replay. Its own
#   code (its fuzz/ folder and the replay's entry) is compiled as the test programs' own,
#   without optimisation, with the replays' precompiled headers; the code it feeds that it
#   compiles itself keeps the configuration's flags, in an object library of its own.
function(gw_fuzz_target name)
  cmake_parse_arguments(GW "" "CORPUS" "LINKS" ${ARGN})
  if(NOT GW_CORPUS)
    message(FATAL_ERROR "gw_fuzz_target(${name}): no CORPUS folder")
  endif()
  if(GW_FUZZ)
    add_executable(${name} ${GW_UNPARSED_ARGUMENTS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    target_link_libraries(${name} PRIVATE ${GW_LINKS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endif()
  if(GW_TESTS)
    gw_replay_main()
    set(own)
    set(fed)
    foreach(source ${GW_UNPARSED_ARGUMENTS})
      if(source MATCHES "(^|/)fuzz/")
        list(APPEND own ${source})
      else()
        list(APPEND fed ${source})
      endif()
    endforeach()
    add_executable(${name}_replay ${own})
    if(fed)
      add_library(${name}_fed OBJECT ${fed})
      target_include_directories(${name}_fed PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
      target_link_libraries(${name}_fed PRIVATE ${GW_LINKS})
      target_link_libraries(${name}_replay PRIVATE ${name}_fed)
    endif()
    target_include_directories(${name}_replay PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    if(GW_FUZZER_INCLUDE)
      target_include_directories(${name}_replay SYSTEM PRIVATE ${GW_FUZZER_INCLUDE})
    endif()
    target_link_libraries(${name}_replay PRIVATE ${GW_LINKS} gw_replay_main)
    gw_test_program(${name}_replay)
    if("${GW_LINKS}" MATCHES "testsupport|messages")
      gw_replay_headers(${name}_replay MESSAGES)
    else()
      gw_replay_headers(${name}_replay STD)
    endif()
    add_test(NAME ${name}.replay COMMAND ${name}_replay ${CMAKE_CURRENT_SOURCE_DIR}/${GW_CORPUS})
    set_tests_properties(${name}.replay PROPERTIES TIMEOUT 300)
  endif()
endfunction()
