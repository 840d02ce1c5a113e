# Test helpers.
#
#   kem_add_native_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2)
#       native GoogleTest executable, one CTest entry (native build only).
#   kem_add_wine_test(NAME SOURCES a.cpp LIBS lib1 [ARGS ...] [GUI])
#       MinGW GoogleTest executable run under Wine through the harness (win32 build only).
#       GUI marks tests that show windows (they run against the harness's Xvfb display).
#
# Under Wine every test shares one private WINEPREFIX in the build tree, prepared once
# per run by the fixture "wine" and torn down (wineserver, Xvfb) by its cleanup test.
include_guard(GLOBAL)

set(KEM_HARNESS ${CMAKE_SOURCE_DIR}/scripts/wine-harness.sh)
set(KEM_WINE_STATE ${CMAKE_BINARY_DIR}/wine)
set(KEM_WINE_STATE_CP932 ${CMAKE_BINARY_DIR}/wine-cp932)
set(KEM_WINE_CP932_ENVIRONMENT LC_ALL=ja_JP.UTF-8 KEM_WINE_CODE_PAGE=932)

function(kem_add_native_test name)
  if(KEM_WIN32)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;ARGS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  kem_target_defaults(${name})
  add_test(NAME ${name} COMMAND ${name} ${T_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS native TIMEOUT 600)
endfunction()

# Wine runs the engine, a 32-bit x86 program, only where the kernel itself executes 32-bit
# x86 code (the harness's probe says why not). Elsewhere the tests that need Wine are
# registered but disabled, so CTest lists each of them as not run instead of failing them
# all; the tests that need only Linux (building setups, making fixtures) still run.
set(KEM_WINE_RUNS TRUE)
# The 64-bit test build (cmake/mingw-x86_64.cmake) runs in a 64-bit prefix.
set(KEM_WINE_ARCH_ENVIRONMENT)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(KEM_WINE_ARCH_ENVIRONMENT KEM_WINE_ARCH=win64)
endif()
if(KEM_WIN32 AND NOT KEM_WINE_ARCH_ENVIRONMENT)
  execute_process(COMMAND ${KEM_HARNESS} probe RESULT_VARIABLE rc OUTPUT_VARIABLE why ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    set(KEM_WINE_RUNS FALSE)
    message(WARNING "Wine cannot run the engine on this machine (${why}); the tests that need Wine are "
                    "disabled.")
  endif()
endif()

# Disables, at the end of the calling folder, its tests that use the Wine fixtures.
function(kem_disable_wine_tests_of_folder)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test IN LISTS tests)
    get_test_property(${test} FIXTURES_REQUIRED required)
    get_test_property(${test} FIXTURES_SETUP setup)
    get_test_property(${test} FIXTURES_CLEANUP cleanup)
    if("${required};${setup};${cleanup}" MATCHES "(^|;)wine(_cp932)?(;|$)")
      set_tests_properties(${test} PROPERTIES DISABLED TRUE)
    endif()
  endforeach()
endfunction()

# Called by every function that registers a Wine test, once per folder; a folder that
# registers Wine tests with add_test itself calls it too.
function(kem_watch_folder_for_wine_tests)
  get_property(watched DIRECTORY PROPERTY KEM_WINE_WATCHED)
  if(NOT KEM_WINE_RUNS AND NOT watched)
    set_property(DIRECTORY PROPERTY KEM_WINE_WATCHED TRUE)
    cmake_language(DEFER CALL kem_disable_wine_tests_of_folder)
  endif()
endfunction()

if(KEM_WIN32 AND NOT TEST wine_setup)
  add_test(NAME wine_setup COMMAND ${KEM_HARNESS} start ${KEM_WINE_STATE})
  add_test(NAME wine_cleanup COMMAND ${KEM_HARNESS} stop ${KEM_WINE_STATE})
  set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 600 LABELS wine
                       ENVIRONMENT "${KEM_WINE_ARCH_ENVIRONMENT}")
  set_tests_properties(wine_cleanup PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120 LABELS wine)
  kem_watch_folder_for_wine_tests()
endif()

# Registers an already-built Windows program as a test run under Wine.
function(kem_add_wine_command name)
  cmake_parse_arguments(T "GUI;CP932" "WORKING_DIRECTORY" "COMMAND;FIXTURES;DEPENDS_ON;ENVIRONMENT" ${ARGN})
  kem_watch_folder_for_wine_tests()
  set(dir ${T_WORKING_DIRECTORY})
  if(NOT dir)
    set(dir ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  add_test(NAME ${name} COMMAND ${KEM_HARNESS} run ${KEM_WINE_STATE} ${T_COMMAND} WORKING_DIRECTORY ${dir})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "wine;${T_FIXTURES}" LABELS wine TIMEOUT 900)
  if(T_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENVIRONMENT}")
  endif()
  if(T_CP932)
    # Once per build tree ("if(TEST)" sees only the tests of the current folder).
    get_property(cp932_registered GLOBAL PROPERTY KEM_WINE_CP932_REGISTERED)
    if(NOT cp932_registered)
      set_property(GLOBAL PROPERTY KEM_WINE_CP932_REGISTERED TRUE)
      add_test(NAME wine_cp932_setup COMMAND ${KEM_HARNESS} start ${KEM_WINE_STATE_CP932})
      add_test(NAME wine_cp932_cleanup COMMAND ${KEM_HARNESS} stop ${KEM_WINE_STATE_CP932})
      set_tests_properties(wine_cp932_setup PROPERTIES FIXTURES_SETUP wine_cp932 TIMEOUT 600 LABELS wine
                           ENVIRONMENT "${KEM_WINE_CP932_ENVIRONMENT};${KEM_WINE_ARCH_ENVIRONMENT}")
      set_tests_properties(wine_cp932_cleanup PROPERTIES FIXTURES_CLEANUP wine_cp932 TIMEOUT 120 LABELS wine
                           ENVIRONMENT "${KEM_WINE_CP932_ENVIRONMENT}")
    endif()
    set(environment ${T_ENVIRONMENT} ${KEM_WINE_CP932_ENVIRONMENT})
    add_test(NAME ${name}_cp932 COMMAND ${KEM_HARNESS} run ${KEM_WINE_STATE_CP932} ${T_COMMAND} WORKING_DIRECTORY ${dir})
    set_tests_properties(${name}_cp932 PROPERTIES FIXTURES_REQUIRED "wine_cp932;${T_FIXTURES}" LABELS wine TIMEOUT 900
                         ENVIRONMENT "${environment}")
  endif()
endfunction()

function(kem_add_wine_test name)
  if(NOT KEM_WIN32)
    return()
  endif()
  cmake_parse_arguments(T "GUI;CP932" "" "SOURCES;LIBS;ARGS;FIXTURES;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  kem_target_defaults(${name})
  set(extra)
  if(T_CP932)
    list(APPEND extra CP932)
  endif()
  kem_add_wine_command(${name} COMMAND $<TARGET_FILE:${name}> ${T_ARGS} FIXTURES ${T_FIXTURES}
                       ENVIRONMENT ${T_ENVIRONMENT} ${extra})
endfunction()
