# Cross-builds for the Debian architecture COMPARE_DATES_ARCH (arm64, armhf,
# i386, ppc64el, s390x, ...) with Debian's cross compilers
# (crossbuild-essential-<arch>); qemu-user runs what they build. Both
# programs are linked with the C library of that architecture that multiarch
# installs (libc6-dev:<arch>), at the version of this machine's own, and the
# dynamically linked one runs with it.
set(CMAKE_SYSTEM_NAME Linux)
if(NOT COMPARE_DATES_ARCH)
    message(FATAL_ERROR "Name the Debian architecture to build for: -DCOMPARE_DATES_ARCH=arm64")
endif()
# The compiler checks run this file again, in a project of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES COMPARE_DATES_ARCH)

# dpkg-architecture knows the GNU names of every Debian architecture; it
# warns, needlessly here, that the compiler on the PATH is not the cross one.
foreach(name GNU_TYPE GNU_CPU MULTIARCH)
    execute_process(COMMAND dpkg-architecture -a${COMPARE_DATES_ARCH} -qDEB_HOST_${name}
        OUTPUT_VARIABLE ${name} OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(CMAKE_SYSTEM_PROCESSOR ${GNU_CPU})
set(CMAKE_C_COMPILER ${GNU_TYPE}-gcc)

# The cross compiler's packages bring a C library of their own, in
# /usr/${GNU_TYPE}, which Debian rebuilds only with a new cross toolchain and
# so without the fixes of the release's point releases. Where the multiarch
# one is installed, the compiler is told to leave the cross one out: its
# header directories are the usual ones without that one, and its start
# files and libraries are looked for in the multiarch directory first.
set(CMAKE_CXX_COMPILER ${GNU_TYPE}-g++)
if(EXISTS /usr/lib/${MULTIARCH}/libc.a)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -x c++ -E -v /dev/null
        OUTPUT_QUIET ERROR_VARIABLE search COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCH "#include <...> search starts here:\n(.*)\nEnd of search list" _ "${search}")
    string(REGEX REPLACE "\n" ";" directories "${CMAKE_MATCH_1}")
    set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES "")
    foreach(directory IN LISTS directories)
        string(STRIP "${directory}" directory)
        file(REAL_PATH "${directory}" directory)
        if(NOT directory STREQUAL "/usr/${GNU_TYPE}/include")
            list(APPEND CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES "${directory}")
        endif()
    endforeach()
    list(APPEND CMAKE_CXX_COMPILER -nostdinc -B/usr/lib/${MULTIARCH}/)
    set(CMAKE_CXX_STANDARD_LINK_DIRECTORIES /usr/lib/${MULTIARCH})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${GNU_TYPE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu-user names two processors its own way.
set(qemu_cpu ${GNU_CPU})
if(GNU_CPU MATCHES "^i[3-6]86$")
    set(qemu_cpu i386)
elseif(GNU_CPU STREQUAL "powerpc64le")
    set(qemu_cpu ppc64le)
endif()
find_program(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu_cpu})
