# What `cmake --install` puts where. Only what a user runs is installed: tests, benchmarks,
# fuzzers and the programs that make the help and the example stay in the build tree.
# Every library of ours is static, so no RPATH is needed; the modules (the help's Poppler,
# the update check's Qt Network) are loaded by path from beside the program.
include(GNUInstallDirs)

set(user_tools "")
foreach(tool varko-report varko-codesign varko-spctl varko-pkgutil varko-log varko-hdiutil)
    if(TARGET ${tool})
        list(APPEND user_tools ${tool})
    endif()
endforeach()

if(APPLE)
    # The bundle already holds the help in its Resources (src/app); the tools go beside
    # its executable.
    install(TARGETS varko BUNDLE DESTINATION .)
    install(TARGETS ${user_tools} RUNTIME DESTINATION Varko.app/Contents/MacOS)
    install(TARGETS varko_helppdf varko_updatefetch LIBRARY DESTINATION Varko.app/Contents/MacOS)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/schema/ DESTINATION Varko.app/Contents/Resources/schema)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/osquery/varko.conf DESTINATION Varko.app/Contents/Resources/osquery)
else()
    # The programs find each other beside themselves, so they share one private folder;
    # bin holds relative links, which both lookups resolve through /proc/self/exe.
    set(varko_programs_dir ${CMAKE_INSTALL_LIBEXECDIR}/varko)
    install(TARGETS varko ${user_tools} RUNTIME DESTINATION ${varko_programs_dir})
    install(TARGETS varko_helppdf varko_updatefetch LIBRARY DESTINATION ${varko_programs_dir})
    install(FILES ${VARKO_HELP_PDF} ${CMAKE_BINARY_DIR}/share/varko/README.md
            DESTINATION ${CMAKE_INSTALL_DATADIR}/varko)
    # The JSON Schemas of varko-report's output, for the fleet tools that collect it.
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/schema/ DESTINATION ${CMAKE_INSTALL_DATADIR}/varko/schema)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/osquery/varko.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/varko/osquery)

    file(RELATIVE_PATH help_from_programs ${CMAKE_INSTALL_FULL_LIBEXECDIR}/varko ${CMAKE_INSTALL_FULL_DATADIR}/varko)
    if(NOT help_from_programs MATCHES "^(\\.\\./)?\\.\\./share/varko$")
        message(WARNING "Varko will not find its help: it looks in ../share/varko and ../../share/varko "
                        "from its programs, and the help would be at ${help_from_programs}")
    endif()

    file(RELATIVE_PATH programs_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBEXECDIR}/varko)
    set(link_dir ${CMAKE_BINARY_DIR}/install-links)
    file(MAKE_DIRECTORY ${link_dir})
    foreach(program varko varko-report)
        file(CREATE_LINK ${programs_from_bin}/${program} ${link_dir}/${program} SYMBOLIC)
        install(FILES ${link_dir}/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
    endforeach()

    # Folders are typed by what they are, not by name, so file managers still call an
    # .app folder inode/directory; the *.app type helps only programs that ask by name.
    install(FILES ${PROJECT_SOURCE_DIR}/resources/linux/varko.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/linux/varko-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME varko.xml)
    install(FILES ${PROJECT_SOURCE_DIR}/resources/icons/varko.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

    # Software centres find Varko by its AppStream data, named by its identifier.
    set(VARKO_METAINFO ${CMAKE_BINARY_DIR}/share/metainfo/${VARKO_BUNDLE_IDENTIFIER}.metainfo.xml)
    configure_file(${PROJECT_SOURCE_DIR}/resources/linux/varko.metainfo.xml.in ${VARKO_METAINFO} @ONLY)
    install(FILES ${VARKO_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

    # A manual page for every program a user may run, compressed as Debian ships them.
    set(VARKO_MAN_PAGES "")
    set(compressed_pages "")
    find_program(VARKO_GZIP gzip)
    foreach(program varko ${user_tools})
        set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
        configure_file(${PROJECT_SOURCE_DIR}/resources/man/${program}.1.in ${page} @ONLY)
        list(APPEND VARKO_MAN_PAGES ${page})
        if(VARKO_GZIP)
            add_custom_command(OUTPUT ${page}.gz
                COMMAND ${VARKO_GZIP} -9nc ${page} > ${page}.gz
                DEPENDS ${page} ${PROJECT_SOURCE_DIR}/resources/man/${program}.1.in
                COMMENT "Compressing the manual page of ${program}" VERBATIM)
            list(APPEND compressed_pages ${page}.gz)
        else()
            list(APPEND compressed_pages ${page})
        endif()
    endforeach()
    add_custom_target(varko_man ALL DEPENDS ${compressed_pages})
    install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

    # Desktops take MIME types and file associations from caches. With DESTDIR set a
    # package is being staged, and its triggers rebuild them where it is installed; an
    # install straight into a prefix has to do it itself.
    install(CODE "set(varko_datadir \"${CMAKE_INSTALL_DATADIR}\")")
    install(CODE [[
        if("$ENV{DESTDIR}" STREQUAL "")
            find_program(varko_update_mime update-mime-database)
            find_program(varko_update_desktop update-desktop-database)
            if(varko_update_mime)
                execute_process(COMMAND ${varko_update_mime} ${CMAKE_INSTALL_PREFIX}/${varko_datadir}/mime)
            endif()
            if(varko_update_desktop)
                execute_process(COMMAND ${varko_update_desktop} ${CMAKE_INSTALL_PREFIX}/${varko_datadir}/applications)
            endif()
        endif()
    ]])
endif()
