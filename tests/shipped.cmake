# The tests of a build that ships its programs (a cross build, or a native
# one that makes the release files): one native build of the harness, shared
# by every such build, runs against each program under the emulator if there
# is one, each of its tests listed as one of CTest's. It is optimised as the
# programs are, and has the warnings of the build that asks for it.
if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
    message(FATAL_ERROR "The tests of a cross build run the program under an emulator: as root, packaging/setup release (for Windows alone, packaging/setup windows), or turn BUILD_TESTING off")
endif()

set(COMPARE_DATES_HARNESS_DIR "${PROJECT_SOURCE_DIR}/build/harness" CACHE PATH "The native build of the tests")
include(ExternalProject)
ExternalProject_Add(native-tests
    SOURCE_DIR "${PROJECT_SOURCE_DIR}"
    BINARY_DIR "${COMPARE_DATES_HARNESS_DIR}"
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release "-DCOMPARE_DATES_WARNINGS=${COMPARE_DATES_WARNINGS}"
               "-DCMAKE_COMPILE_WARNING_AS_ERROR=${CMAKE_COMPILE_WARNING_AS_ERROR}"
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
    # qemu-user finds the loader and the C library of a cross build's
    # dynamic program in its sysroot.
    set(loader "")
    if(CMAKE_SYSROOT)
        set(loader "QEMU_LD_PREFIX=${CMAKE_SYSROOT}")
    endif()
    test_program(dynamic "$<TARGET_FILE:compare-dates>" "${loader}" "")
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
set(wine_environment "WINEPREFIX=${CMAKE_BINARY_DIR}/wine" WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")
set(fixture "${CMAKE_CURRENT_SOURCE_DIR}/wine-fixture")
# Typing at Wine's console window takes an X server without a screen, and
# xdotool to type; without them the console's tests are skipped.
find_program(XVFB Xvfb)
find_program(XDOTOOL xdotool)
if(XVFB AND XDOTOOL)
    set(console "${CMAKE_BINARY_DIR}/console")
    list(APPEND wine_environment "COMPARE_DATES_CONSOLE=${console}")
    set(start_console "${console}" "${XVFB}")
endif()
add_test(NAME wine-start COMMAND "${fixture}" start "${WINESERVER}" "${CMAKE_CROSSCOMPILING_EMULATOR}" ${start_console})
add_test(NAME wine-stop COMMAND "${fixture}" stop "${WINESERVER}" ${console})
set_tests_properties(wine-start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_environment}")
set_tests_properties(wine-stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${wine_environment}")
test_program(windows "$<TARGET_FILE:compare-dates>" "${wine_environment}" "PROPERTIES;FIXTURES_REQUIRED;wine")
