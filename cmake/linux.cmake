# Cross-builds for the Debian architecture COMPARE_DATES_ARCH (arm64, armhf,
# i386, ppc64el, s390x, ...) with Debian's cross compilers
# (crossbuild-essential-<arch>); qemu-user runs what they build. Both
# programs are compiled and linked against the C library of that
# architecture as Debian's archive has it, at the version of this machine's
# own, unpacked into a sysroot in build/sysroot/<arch> (packaging/sysroot,
# run here when it is not there yet), and the dynamically linked one runs
# with it.
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

set(CMAKE_CXX_COMPILER ${GNU_TYPE}-g++)
file(REAL_PATH "${CMAKE_CURRENT_LIST_DIR}/../build/sysroot/${COMPARE_DATES_ARCH}" CMAKE_SYSROOT)
if(NOT EXISTS "${CMAKE_SYSROOT}/sysroot.json")
    execute_process(COMMAND "${CMAKE_CURRENT_LIST_DIR}/../packaging/sysroot" ${COMPARE_DATES_ARCH} "${CMAKE_SYSROOT}"
        COMMAND_ERROR_IS_FATAL ANY)
endif()

# The cross compiler's packages bring a C library of their own, in
# /usr/${GNU_TYPE}, which Debian rebuilds only with a new cross toolchain and
# so without the fixes of the release's point releases, and which the
# compiler looks in before the sysroot. It is told to leave it out: its
# header directories are the usual ones for the sysroot without that one,
# and its start files and libraries are looked for in the sysroot first.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} --sysroot=${CMAKE_SYSROOT} -x c++ -E -v /dev/null
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
set(libraries "${CMAKE_SYSROOT}/usr/lib/${MULTIARCH}")
list(APPEND CMAKE_CXX_COMPILER -nostdinc -B${libraries}/)
set(CMAKE_CXX_STANDARD_LINK_DIRECTORIES "${libraries}" "${CMAKE_SYSROOT}/lib/${MULTIARCH}")

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
