# The Win32 tests belong to the MinGW tree: it builds each program and registers it with CTest,
# with Wine (cmake/wine-run) as the tree's emulator. CTest in the native tree reads the MinGW
# tree's tests too, so that one ctest runs both, inside the Xvfb and Wine session that the
# native tree starts before the first Win32 test and stops after the last.
#
#   quarvel_win32_test(NAME SOURCES a.cpp... [LIBRARIES lib...] [ARGS arg...]
#                      [TIMEOUT seconds] [EXCLUSIVE] [FIXTURES fixture...])
#
# EXCLUSIVE: the program changes the Wine session's shared state (registry, system directory)
# and must not run beside another program that does.

set(QUARVEL_WIN32_TEST_BIN_SUBDIR tests-bin)

if(CMAKE_CROSSCOMPILING)
    # Set by the native tree (see quarvel_find_wine below).
    set(QUARVEL_WINE_USABLE OFF CACHE BOOL "Register the Win32 tests, run under Wine")
    set(QUARVEL_WINE_DIR "" CACHE PATH "The Wine session's directory")
    set(QUARVEL_TIMEOUT_SCALE 1 CACHE STRING "How many times slower than native Wine runs")
    if(QUARVEL_WINE_USABLE)
        set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_SOURCE_DIR}/cmake/wine-run;${QUARVEL_WINE_DIR}")
    endif()
endif()

function(quarvel_win32_test name)
    cmake_parse_arguments(T "EXCLUSIVE" "TIMEOUT" "SOURCES;LIBRARIES;ARGS;FIXTURES" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBRARIES} win32_test_support GTest::gtest)
    target_link_options(${name} PRIVATE -static)
    set_target_properties(${name} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/${QUARVEL_WIN32_TEST_BIN_SUBDIR}")
    if(NOT QUARVEL_WINE_USABLE)
        return()
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * ${QUARVEL_TIMEOUT_SCALE}")
    add_test(NAME win32.${name} COMMAND ${name} ${T_ARGS})
    set_tests_properties(win32.${name} PROPERTIES
        FIXTURES_REQUIRED "wine;${T_FIXTURES}"
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QUARVEL_TIMEOUT_SCALE=${QUARVEL_TIMEOUT_SCALE};QUARVEL_SHARED=${QUARVEL_SHARED_DIR};QUARVEL_BUILD=${CMAKE_BINARY_DIR};QUARVEL_BIN=${QUARVEL_BIN_DIR}")
    if(T_EXCLUSIVE)
        set_tests_properties(win32.${name} PROPERTIES RESOURCE_LOCK wine_shared_state)
    endif()
endfunction()

# Win32 programs that tests start (children, test libraries), beside the test programs.
function(quarvel_win32_helper_program name)
    cmake_parse_arguments(T "" "" "SOURCES;LIBRARIES;OPTIONS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBRARIES})
    target_link_options(${name} PRIVATE -static ${T_OPTIONS})
    set_target_properties(${name} PROPERTIES
        RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/${QUARVEL_WIN32_TEST_BIN_SUBDIR}")
endfunction()

# Native tree: whether the Win32 tests can run here. On a machine that cannot run Wine they are
# not registered; one skipped test says why, so that the summary shows what did not run.
# QUARVEL_WINE_TESTS=ON registers them without asking this machine: for a tree whose tests run
# on another one (scripts/wine-vm runs them in a virtual machine that can run Wine), where they
# also run several times slower, so their time limits grow with it.
function(quarvel_find_wine)
    set(QUARVEL_WINE_TESTS AUTO CACHE STRING
        "Register the Win32 tests: AUTO (when this machine can run Wine) or ON")
    set_property(CACHE QUARVEL_WINE_TESTS PROPERTY STRINGS AUTO ON)
    set(QUARVEL_WINE_DIR "${CMAKE_BINARY_DIR}/wine" PARENT_SCOPE)
    set(QUARVEL_TIMEOUT_SCALE 1 PARENT_SCOPE)
    set(QUARVEL_WINE_USABLE ON PARENT_SCOPE)
    if(QUARVEL_WINE_TESTS STREQUAL "ON")
        set(QUARVEL_TIMEOUT_SCALE 5 PARENT_SCOPE)
        return()
    endif()
    execute_process(COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-usable"
        RESULT_VARIABLE unusable ERROR_VARIABLE reason ERROR_STRIP_TRAILING_WHITESPACE)
    if(unusable)
        message(WARNING "The Win32 tests will not run: ${reason}")
        set(QUARVEL_WINE_USABLE OFF PARENT_SCOPE)
        set(QUARVEL_WINE_UNUSABLE_REASON "${reason}" PARENT_SCOPE)
    endif()
endfunction()

# Native tree: the Wine session around the Win32 tests, or the one skipped test.
function(quarvel_wine_session_fixture)
    if(NOT QUARVEL_WINE_USABLE)
        add_test(NAME win32.skipped COMMAND sh -c "printf '%s\\n' \"$1\"; exit 77" sh
            "${QUARVEL_WINE_UNUSABLE_REASON}")
        set_tests_properties(win32.skipped PROPERTIES SKIP_RETURN_CODE 77)
        return()
    endif()
    add_test(NAME wine.start COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-session" start "${QUARVEL_WINE_DIR}")
    add_test(NAME wine.stop COMMAND "${CMAKE_SOURCE_DIR}/cmake/wine-session" stop "${QUARVEL_WINE_DIR}")
    math(EXPR start_timeout "240 * ${QUARVEL_TIMEOUT_SCALE}")
    set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine TIMEOUT ${start_timeout}
        ENVIRONMENT "QUARVEL_SHARED=${QUARVEL_SHARED_DIR}")
    set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
    # The MinGW tree's tests, read by this tree's CTest.
    file(WRITE "${CMAKE_BINARY_DIR}/win32-tests.cmake" "subdirs(\"${QUARVEL_WIN32_DIR}\")\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${CMAKE_BINARY_DIR}/win32-tests.cmake")
endfunction()
