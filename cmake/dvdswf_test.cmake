# Test code is compiled for build speed: the work it checks runs in the libraries, and line
# tables are enough for failure messages and backtraces.
function(dvdswf_test_compile_options target)
  target_compile_options(${target} PRIVATE -O1 -g1)
endfunction()

# dvdswf_add_test(NAME name SOURCES ... LIBS ... [LABELS ...])
# One GoogleTest executable per call, discovered into CTest. Tests run with the
# fixture discs authored, in bin/ so that bin/LibAV/ is found beside them.
function(dvdswf_add_test)
  if(NOT DVDSWF_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  dvdswf_test_compile_options(${T_NAME})
  target_compile_definitions(${T_NAME} PRIVATE
    DVDSWF_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    DVDSWF_BINARY_DIR="${CMAKE_BINARY_DIR}"
    DVDSWF_FIXTURES_DIR="${CMAKE_BINARY_DIR}/fixtures"
    DVDSWF_TEST_TMP="${CMAKE_BINARY_DIR}/test-tmp")
  if(TARGET fixtures)
    add_dependencies(${T_NAME} fixtures)
  endif()
  # gtest_discover_tests splits a list property into separate arguments, so the labels
  # travel as one word ("engine-threads"); `ctest -L threads` matches it as a regex.
  string(REPLACE ";" "-" _labels "${T_LABELS}")
  gtest_discover_tests(${T_NAME}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    PROPERTIES LABELS "${_labels}" ENVIRONMENT "SDL_AUDIODRIVER=dummy;QT_QPA_PLATFORM=offscreen"
    DISCOVERY_TIMEOUT 60)
endfunction()

# dvdswf_add_fuzz(NAME name SOURCES ... LIBS ... [DEFINITIONS ...])
# A libFuzzer target (clang only; other compilers skip it). Configure with
# -DDVDSWF_FUZZ=ON so that the libraries it links carry coverage too, and with
# -DDVDSWF_SANITIZE=address for ASan + UBSan. Every target is added to the `fuzz` target.
function(dvdswf_add_fuzz)
  if(NOT DVDSWF_BUILD_TESTS OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    return()
  endif()
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS;DEFINITIONS" ${ARGN})
  add_executable(${F_NAME} ${F_SOURCES})
  target_include_directories(${F_NAME} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  target_compile_definitions(${F_NAME} PRIVATE ${F_DEFINITIONS})
  if(NOT TARGET fuzz)
    add_custom_target(fuzz)
  endif()
  add_dependencies(fuzz ${F_NAME})
endfunction()
