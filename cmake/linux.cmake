# Cross-builds for the Debian architecture COMPARE_DATES_ARCH (arm64, armhf,
# i386, ppc64el, s390x, ...) with Debian's cross compilers
# (crossbuild-essential-<arch>); qemu-user runs what they build. The
# dynamically linked program runs with the C library of that architecture
# that multiarch installs (libc6:<arch>), the one its package depends on.
set(CMAKE_SYSTEM_NAME Linux)
if(NOT COMPARE_DATES_ARCH)
    message(FATAL_ERROR "Name the Debian architecture to build for: -DCOMPARE_DATES_ARCH=arm64")
endif()
# The compiler checks run this file again, in a project of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES COMPARE_DATES_ARCH)

# dpkg-architecture knows the GNU names of every Debian architecture; it
# warns, needlessly here, that the compiler on the PATH is not the cross one.
foreach(name GNU_TYPE GNU_CPU)
    execute_process(COMMAND dpkg-architecture -a${COMPARE_DATES_ARCH} -qDEB_HOST_${name}
        OUTPUT_VARIABLE ${name} OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(CMAKE_SYSTEM_PROCESSOR ${GNU_CPU})
set(CMAKE_C_COMPILER ${GNU_TYPE}-gcc)
set(CMAKE_CXX_COMPILER ${GNU_TYPE}-g++)

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
