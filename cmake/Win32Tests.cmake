# A Win32 test program is declared once, with quarvel_win32_test() in a tests/ CMakeLists.txt
# that both trees read: the MinGW tree builds the program, the native tree runs it under Wine.
#
#   quarvel_win32_test(NAME SOURCES a.cpp... [LIBRARIES lib...] [ARGS arg...]
#                      [TIMEOUT seconds] [EXCLUSIVE] [FIXTURES fixture...])
#
# EXCLUSIVE: the program changes the Wine session's shared state (registry, system directory)
# and must not run beside another program that does.

set(QUARVEL_WIN32_TEST_BIN_SUBDIR tests-bin)

function(quarvel_win32_test name)
    cmake_parse_arguments(T "EXCLUSIVE" "TIMEOUT" "SOURCES;LIBRARIES;ARGS;FIXTURES" ${ARGN})
    if(CMAKE_CROSSCOMPILING)
        add_executable(${name} ${T_SOURCES})
        target_link_libraries(${name} PRIVATE ${T_LIBRARIES} win32_test_support GTest::gtest)
        target_link_options(${name} PRIVATE -static)
        set_target_properties(${name} PROPERTIES
            RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/${QUARVEL_WIN32_TEST_BIN_SUBDIR}")
        return()
    endif()
    if(NOT QUARVEL_WINE_USABLE)
        return()
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${QUARVEL_TIMEOUT_SCALE}")
    add_test(NAME win32.${name}
        COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-run" "${QUARVEL_WINE_DIR}"
                "${QUARVEL_WIN32_DIR}/${QUARVEL_WIN32_TEST_BIN_SUBDIR}/${name}.exe" ${T_ARGS})
    set_tests_properties(win32.${name} PROPERTIES
        FIXTURES_REQUIRED "wine;${T_FIXTURES}"
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QUARVEL_TIMEOUT_SCALE=${QUARVEL_TIMEOUT_SCALE};QUARVEL_OUTPUT=${QUARVEL_WINE_DIR};QUARVEL_SHARED=${QUARVEL_SHARED_DIR};QUARVEL_BUILD=${CMAKE_BINARY_DIR};QUARVEL_SOURCE=${CMAKE_SOURCE_DIR};QUARVEL_BIN=${QUARVEL_BIN_DIR};QUARVEL_TEST_BIN=${QUARVEL_WIN32_DIR}/${QUARVEL_WIN32_TEST_BIN_SUBDIR}")
    if(T_EXCLUSIVE)
        set_tests_properties(win32.${name} PROPERTIES RESOURCE_LOCK wine_shared_state)
    endif()
endfunction()

# Win32 programs that tests start (children, test libraries): built in the MinGW tree only,
# beside the test programs.
function(quarvel_win32_helper_program name)
    if(NOT CMAKE_CROSSCOMPILING)
        return()
    endif()
    cmake_parse_arguments(T "" "" "SOURCES;LIBRARIES;OPTIONS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBRARIES})
    target_link_options(${name} PRIVATE -static ${T_OPTIONS})
    set_target_properties(${name} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/${QUARVEL_WIN32_TEST_BIN_SUBDIR}")
endfunction()

# One Xvfb and one fresh Wine prefix for a whole test run, started before the first Win32 test
# and stopped after the last. On a machine that cannot run Wine the Win32 tests are not
# registered; one skipped test says why, so that the summary shows what did not run.
# QUARVEL_WINE_TESTS=ON registers them without asking this machine: for a tree whose tests run
# on another one (scripts/wine-vm runs them in a virtual machine that can run Wine).
set(QUARVEL_WINE_TESTS AUTO CACHE STRING
    "Register the Win32 tests: AUTO (when this machine can run Wine) or ON")
set_property(CACHE QUARVEL_WINE_TESTS PROPERTY STRINGS AUTO ON)
# Emulated, the other machine runs them several times slower: their time limits grow with it.
if(QUARVEL_WINE_TESTS STREQUAL "ON")
    set(QUARVEL_TIMEOUT_SCALE 5)
else()
    set(QUARVEL_TIMEOUT_SCALE 1)
endif()

function(quarvel_wine_session_fixture)
    set(unusable 0)
    if(NOT QUARVEL_WINE_TESTS STREQUAL "ON")
        execute_process(COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-usable"
            RESULT_VARIABLE unusable ERROR_VARIABLE reason ERROR_STRIP_TRAILING_WHITESPACE)
    endif()
    if(unusable)
        message(WARNING "The Win32 tests will not run: ${reason}")
        set(QUARVEL_WINE_USABLE OFF PARENT_SCOPE)
        add_test(NAME win32.skipped COMMAND sh -c "printf '%s\\n' \"$1\"; exit 77" sh "${reason}")
        set_tests_properties(win32.skipped PROPERTIES SKIP_RETURN_CODE 77)
        return()
    endif()
    set(QUARVEL_WINE_USABLE ON PARENT_SCOPE)
    add_test(NAME wine.start COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-session" start "${QUARVEL_WINE_DIR}")
    add_test(NAME wine.stop COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-session" stop "${QUARVEL_WINE_DIR}")
    math(EXPR start_timeout "240 * ${QUARVEL_TIMEOUT_SCALE}")
    set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine TIMEOUT ${start_timeout}
        ENVIRONMENT "QUARVEL_SHARED=${QUARVEL_SHARED_DIR}")
    set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
endfunction()

set(QUARVEL_WINE_DIR "${CMAKE_BINARY_DIR}/wine")
