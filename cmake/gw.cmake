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
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    target_link_libraries(${name} PUBLIC ${GW_LINKS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR})
    target_link_libraries(${name} INTERFACE ${GW_LINKS})
  endif()
  if(GW_TESTS AND tests)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE ${name} ${GW_TEST_LINKS}
                          GTest::gmock GTest::gtest GTest::gtest_main)
    gtest_discover_tests(${name}_tests DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# gw_benchmark(<name> <sources>... LINKS <libs>...): a Google Benchmark program.
function(gw_benchmark name)
  cmake_parse_arguments(GW "" "" "LINKS" ${ARGN})
  add_executable(${name} ${GW_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${GW_LINKS} benchmark::benchmark benchmark::benchmark_main)
endfunction()

# gw_fuzz_target(<name> <sources>... LINKS <libs>...): a libFuzzer program (GW_FUZZ builds).
function(gw_fuzz_target name)
  cmake_parse_arguments(GW "" "" "LINKS" ${ARGN})
  add_executable(${name} ${GW_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${GW_LINKS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
endfunction()
