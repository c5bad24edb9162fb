# Run by CPack once it has made the package. CPack gives each member of the
# .deb's ar archive the mode its file had on disk, and so the umask of the
# build; Debian's own tools always write 0644. The members' headers are
# patched in place, so that the package's bytes do not depend on the umask.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
    file(SIZE "${package}" end)
    # Past the archive's magic line, each member has a header of 60 bytes:
    # its mode at 40, its size at 48, and data padded to an even length.
    set(header 8)
    while(header LESS end)
        math(EXPR mode_at "${header} + 40")
        math(EXPR size_at "${header} + 48")
        file(READ "${package}" size OFFSET ${size_at} LIMIT 10)
        string(STRIP "${size}" size)
        execute_process(
            COMMAND sh -c "printf '100644  ' | dd of=\"$0\" bs=1 seek=\"$1\" conv=notrunc status=none"
                    "${package}" ${mode_at}
            COMMAND_ERROR_IS_FATAL ANY
        )
        math(EXPR header "${header} + 60 + ${size} + ${size} % 2")
    endwhile()
endforeach()
