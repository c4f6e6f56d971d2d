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

# qor_add_test(NAME name SOURCES ... [LIBS ...] [LOCKS ...] [END_TO_END])
# LOCKS names resources (for example the registry key of the driver) that the
# test must not share with another test running at the same time.
# END_TO_END marks a program that starts other processes or waits for
# windows (label end-to-end): scripts/test.sh lets only these pass on a
# second run.
function(qor_add_test)
  cmake_parse_arguments(T "END_TO_END" "NAME" "SOURCES;LIBS;LOCKS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gmock gtest_main)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1
           WORKING_DIRECTORY ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
  set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED wine
                       ENVIRONMENT "${QOR_TEST_ENV}" TIMEOUT 300)
  if(T_LOCKS)
    set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if(T_END_TO_END)
    set_tests_properties(${T_NAME} PROPERTIES LABELS end-to-end)
  endif()
endfunction()

# Tests that touch the driver's registry key (HKLM\Software\Veltrane\Drivers\QOR)
# pass LOCKS qor_registry so that no two of them run at the same time.
