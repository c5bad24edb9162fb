# The tests of a cross build. The harness drives the program through pipes
# from this machine, so a native build of the same tests is made beside this
# one, and it runs this build's program under the emulator (Wine), expecting
# CR LF line breaks. What needs a Linux program it skips.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    message(FATAL_ERROR "The tests of a cross build run the program under an emulator: install wine and wine64, or turn BUILD_TESTING off")
endif()

include(ExternalProject)
ExternalProject_Add(native-tests
    SOURCE_DIR "${PROJECT_SOURCE_DIR}"
    BINARY_DIR "${CMAKE_BINARY_DIR}/native"
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
    BUILD_COMMAND "${CMAKE_COMMAND}" --build . --target dates-tests
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
)

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
add_test(NAME end-to-end COMMAND "${CMAKE_BINARY_DIR}/native/tests/dates-tests")
set_tests_properties(wine-start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_environment}")
set_tests_properties(wine-stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${wine_environment}")
set_tests_properties(end-to-end PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT
    "${wine_environment};COMPARE_DATES=$<TARGET_FILE:compare-dates>;COMPARE_DATES_RUNNER=${CMAKE_CROSSCOMPILING_EMULATOR}")
