# Tests: GoogleTest from Debian's sources, built with the cross compiler. Each
# test program is one ctest test (a Wine process start costs time), run by
# Wine in a prefix made fresh under the build folder for each ctest run.
enable_testing()
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
if(NOT TARGET gtest)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

set(QOR_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(QOR_TEST_ENV QOR_WINEPREFIX=${QOR_WINEPREFIX} QOR_TARGET_ARCH=${QOR_TARGET_ARCH})

add_test(NAME wine.prefix.start
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh start ${QOR_WINEPREFIX} ${QOR_TARGET_ARCH})
set_tests_properties(wine.prefix.start PROPERTIES FIXTURES_SETUP wine)
add_test(NAME wine.prefix.stop
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-prefix.sh stop ${QOR_WINEPREFIX} ${QOR_TARGET_ARCH})
set_tests_properties(wine.prefix.stop PROPERTIES FIXTURES_CLEANUP wine)

# qor_add_test(NAME name SOURCES ... [LIBS ...] [LOCKS ...] [END_TO_END] [SHARDS n])
# LOCKS names resources (for example the registry key of the driver) that the
# test must not share with another test running at the same time.
# END_TO_END marks a program that starts other processes or waits for
# windows (label end-to-end): scripts/test.sh lets only these pass on a
# second run.
# SHARDS n runs a long program as n tests (name.1 ... name.n), each with its
# share of the cases (GoogleTest's sharding), so that each stays well inside
# the time limit and a retry repeats only its share.
function(qor_add_test)
  cmake_parse_arguments(T "END_TO_END" "NAME;SHARDS" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gmock gtest_main)
  if(T_SHARDS)
    set(tests)
    math(EXPR last "${T_SHARDS} - 1")
    foreach(i RANGE ${last})
      math(EXPR n "${i} + 1")
      add_test(NAME ${T_NAME}.${n} COMMAND ${T_NAME} --gtest_brief=1
               WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
      set_tests_properties(${T_NAME}.${n} PROPERTIES ENVIRONMENT
                           "${QOR_TEST_ENV};GTEST_TOTAL_SHARDS=${T_SHARDS};GTEST_SHARD_INDEX=${i}")
      list(APPEND tests ${T_NAME}.${n})
    endforeach()
  else()
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1
             WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${QOR_TEST_ENV}")
    set(tests ${T_NAME})
  endif()
  set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT 300)
  if(T_LOCKS)
    set_tests_properties(${tests} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if(T_END_TO_END)
    set_tests_properties(${tests} PROPERTIES LABELS end-to-end)
  endif()
endfunction()

# Tests that touch the driver's registry key (HKLM\Software\Veltrane\Drivers\QOR)
# pass LOCKS qor_registry so that no two of them run at the same time.
