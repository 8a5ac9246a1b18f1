# Precompiled headers (GW_PCH): what nearly every file of a target parses and none of them
# changes: the ASN.1 run-time, the controller protocol's classes (with the modules they
# include) and the test framework. Each target precompiles its own, with its own flags.
set(GW_PCH_ASN1 [["asn1/asn1.h"]])
set(GW_PCH_MESSAGES ${GW_PCH_ASN1} [["messages/zgcp.h"]])
set(GW_PCH_TESTS <gmock/gmock.h> <gtest/gtest.h>)

# gw_precompile(<target> <header>...): precompiles the headers for the target's sources.
function(gw_precompile target)
  if(GW_PCH AND ARGN)
    target_precompile_headers(${target} PRIVATE ${ARGN})
  endif()
endfunction()

# gw_subsystem(<name> [LINKS <libs>...] [TEST_LINKS <libs>...])
#
# Builds the static library <name> from every *.cpp of the calling folder except the
# unit tests (*_test.cpp) and program entries (*_main.cpp, which the folder turns into
# executables itself), and, when tests are on, the GoogleTest executable <name>_tests
# from those unit tests, registered with CTest.
function(gw_subsystem name)
  cmake_parse_arguments(GW "" "" "LINKS;TEST_LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  file(GLOB mains CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_main.cpp)
  if(tests OR mains)
    list(REMOVE_ITEM sources ${tests} ${mains})
  endif()
  if(name STREQUAL "asn1" OR "asn1" IN_LIST GW_LINKS)
    set(headers ${GW_PCH_ASN1})
  elseif("messages" IN_LIST GW_LINKS)
    set(headers ${GW_PCH_MESSAGES})
  else()
    set(headers)
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
    gw_precompile(${name}_tests ${headers} ${GW_PCH_TESTS})
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

# gw_fuzz_target(<name> <sources>... LINKS <libs>...): a libFuzzer program (GW_FUZZ builds).
function(gw_fuzz_target name)
  cmake_parse_arguments(GW "" "" "LINKS" ${ARGN})
  add_executable(${name} ${GW_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${GW_LINKS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
