# The release's scripts run Debian's python3, the one that their first line
# names, and read Debian's formats and archives with Debian's own libraries.
# A build that runs them stops here, saying what to install, rather than
# fail later or, for the tests, skip them.
function(require_debian_python use)
    file(STRINGS "${PROJECT_SOURCE_DIR}/packaging/contents" first_line LIMIT_COUNT 1)
    string(REGEX REPLACE "^#!" "" python "${first_line}")
    execute_process(COMMAND "${python}" -c "import apt_pkg, debian.deb822"
                    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    if(failed)
        message(FATAL_ERROR "The release's scripts need ${python} with python3-apt and python3-debian: "
                            "as root, packaging/setup ${use}")
    endif()
    set(debian_python "${python}" PARENT_SCOPE)
endfunction()
