# The names of the release's files, written here alone. Each target's build
# names its files by them, and packaging/release and packaging/verify run
# this file as a script to learn which target makes which file:
#
#   cmake -D VERSION=1.3.0 -D "TARGETS=amd64;windows;source" -P packaging/release-files.cmake
#
# prints "TARGET FILE" for each file of each target. The target "source" is
# the release's own: the source tarball, the buildinfo and the CycloneDX
# document that says what every file holds. Beside these, a release holds
# the Debian source packages of the copyleft libraries linked into its
# programs, whose names the link decides.
function(release_files target version result)
    if(target STREQUAL "source")
        set(files "compare-dates-${version}.tar.gz" "compare-dates-${version}.buildinfo"
            "compare-dates-${version}.cdx.json")
    elseif(target STREQUAL "windows")
        set(files "compare-dates-${version}-win64.zip")
    else()
        set(files "compare-dates_${version}_${target}.deb" "compare-dates-${version}-linux-${target}.tar.gz")
    endif()
    set(${result} "${files}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    set(lines "")
    foreach(target IN LISTS TARGETS)
        release_files("${target}" "${VERSION}" files)
        foreach(file IN LISTS files)
            string(APPEND lines "${target} ${file}\n")
        endforeach()
    endforeach()
    execute_process(COMMAND "${CMAKE_COMMAND}" -E echo_append "${lines}")
endif()
