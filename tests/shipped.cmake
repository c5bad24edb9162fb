# The tests of a build that ships its programs (a cross build, or a native
# one that makes the release files): one native build of the harness, shared
# by every such build, runs against each program under the emulator if there
# is one, each of its tests listed as one of CTest's.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    message(FATAL_ERROR "The tests of a cross build run the program under an emulator: install qemu-user (for Windows, wine and wine64), or turn BUILD_TESTING off")
endif()

set(COMPARE_DATES_HARNESS_DIR "${PROJECT_SOURCE_DIR}/build/harness" CACHE PATH "The native build of the tests")
include(ExternalProject)
ExternalProject_Add(native-tests
    SOURCE_DIR "${PROJECT_SOURCE_DIR}"
    BINARY_DIR "${COMPARE_DATES_HARNESS_DIR}"
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    BUILD_COMMAND "${CMAKE_COMMAND}" --build . --target dates-tests
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
)

# The harness's tests against `program`, each named `kind:Test`. Its unit
# tests are of its own build, not of this one.
list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " runner)
function(test_program kind program environment properties)
    add_executable(harness-${kind} IMPORTED)
    set_target_properties(harness-${kind} PROPERTIES
        IMPORTED_LOCATION "${COMPARE_DATES_HARNESS_DIR}/tests/dates-tests"
        CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${environment};COMPARE_DATES_RUNNER=${runner};COMPARE_DATES=${program}")
    gtest_discover_tests(harness-${kind} DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES
        TEST_PREFIX "${kind}:" TEST_FILTER "-CompareDates.*" ${properties})
endfunction()

if(NOT WIN32)
    test_program(dynamic "$<TARGET_FILE:compare-dates>" "" "")
    test_program(static "${shipped_static_program}" "" "")
    # Linked statically, the program asks for no loader.
    add_test(NAME static:NeedsNoLoader COMMAND sh -c "! \"$0\" -lW \"$1\" | grep -q 'program interpreter'"
        "${CMAKE_READELF}" "${shipped_static_program}")
    return()
endif()

# Wine starts slowly: one server for the whole run, in a prefix of this
# build's own, keeps each start of the program to some tens of milliseconds.
# Without debug channels and the prompts to install Mono and Gecko, Wine
# itself writes nothing to standard error.
find_program(WINESERVER NAMES wineserver wineserver64 REQUIRED)
set(wine_prefix "${CMAKE_BINARY_DIR}/wine")
set(wine_environment "WINEPREFIX=${wine_prefix}" WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")
# The server and what wineboot starts outlive the test: their output goes to
# a file, so that no pipe of CTest's stays open behind them.
add_test(NAME wine-start COMMAND sh -c "mkdir -p \"$0\" && { \"$1\" -p && \"$2\" wineboot --init; } >\"$0/start.log\" 2>&1"
    "${wine_prefix}" "${WINESERVER}" "${CMAKE_CROSSCOMPILING_EMULATOR}")
add_test(NAME wine-stop COMMAND "${WINESERVER}" -k)
set_tests_properties(wine-start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_environment}")
set_tests_properties(wine-stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${wine_environment}")
test_program(windows "$<TARGET_FILE:compare-dates>" "${wine_environment}" "PROPERTIES;FIXTURES_REQUIRED;wine")
