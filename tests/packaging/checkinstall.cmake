# Installs the build as a package would (DESTDIR, prefix /usr) and checks that what a
# user gets works from where it lands.
# Arguments: BUILD_DIR, WORK_DIR, BINDIR, LIBEXECDIR, DATADIR, MANDIR (as installed), EXAMPLE,
# METAINFO_NAME, MODULES (the file names of the modules Varko loads).
cmake_minimum_required(VERSION 3.20)

function(fail)
    string(JOIN "" message ${ARGN})
    message(FATAL_ERROR "${message}")
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(ENV{DESTDIR} ${WORK_DIR}/stage)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
unset(ENV{DESTDIR})
if(NOT status EQUAL 0)
    fail("cmake --install failed:\n" ${output})
endif()
set(usr ${WORK_DIR}/stage/usr)
set(programs ${LIBEXECDIR}/varko)

# Exactly these, so that a test or build-time program that starts being installed shows.
set(expected
    ${BINDIR}/varko ${BINDIR}/varko-report
    ${programs}/varko ${programs}/varko-report ${programs}/varko-codesign ${programs}/varko-spctl
    ${programs}/varko-pkgutil ${programs}/varko-log ${programs}/varko-hdiutil
    ${DATADIR}/varko/README.md
    ${DATADIR}/varko/VarkoHelp.pdf
    ${DATADIR}/varko/schema/varko-item.schema.json
    ${DATADIR}/varko/schema/varko-comparison.schema.json
    ${DATADIR}/varko/schema/varko-scan-cut.schema.json
    ${DATADIR}/varko/schema/varko-scan-unreadable.schema.json
    ${DATADIR}/varko/osquery/varko.conf
    ${DATADIR}/applications/varko.desktop
    ${DATADIR}/mime/packages/varko.xml
    ${DATADIR}/icons/hicolor/scalable/apps/varko.svg
    ${DATADIR}/metainfo/${METAINFO_NAME})
foreach(module ${MODULES})
    list(APPEND expected ${programs}/${module})
endforeach()
foreach(program varko varko-report varko-codesign varko-spctl varko-pkgutil varko-log varko-hdiutil)
    list(APPEND expected ${MANDIR}/man1/${program}.1.gz)
endforeach()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${WORK_DIR}/stage ${WORK_DIR}/stage/*)
list(TRANSFORM installed REPLACE "^usr/" "")
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
    string(REPLACE ";" "\n  " got "${installed}")
    string(REPLACE ";" "\n  " want "${expected}")
    fail("installed files differ.\nInstalled:\n  " ${got} "\nExpected:\n  " ${want})
endif()

foreach(link varko varko-report)
    file(READ_SYMLINK ${usr}/${BINDIR}/${link} target)
    if(IS_ABSOLUTE "${target}")
        fail(${BINDIR}/${link} " points to an absolute path, ${target}, which breaks under DESTDIR")
    endif()
    file(REAL_PATH ${usr}/${BINDIR}/${link} resolved)
    file(REAL_PATH ${usr}/${programs}/${link} wanted)
    if(NOT resolved STREQUAL wanted)
        fail(${BINDIR}/${link} " leads to ${resolved}, not to ${wanted}")
    endif()
endforeach()

# resourcePath() looks for the help at ../../share/varko from the program's folder.
if(NOT EXISTS ${usr}/${programs}/../../share/varko/VarkoHelp.pdf)
    fail("the help is not where the installed varko looks for it")
endif()

# Run through the link, the installed report must equal the build tree's: it only does
# when the link resolves to the folder with the tools.
execute_process(COMMAND ${usr}/${BINDIR}/varko-report ${EXAMPLE}
                RESULT_VARIABLE status OUTPUT_VARIABLE installed_report ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    fail("installed varko-report exited with ${status}:\n" ${errors})
endif()
execute_process(COMMAND ${BUILD_DIR}/bin/varko-report ${EXAMPLE} OUTPUT_VARIABLE built_report ERROR_QUIET)
if(NOT installed_report STREQUAL built_report)
    fail("installed varko-report says otherwise than the built one:\n" ${installed_report})
endif()

find_program(desktop_file_validate desktop-file-validate)
if(desktop_file_validate)
    execute_process(COMMAND ${desktop_file_validate} ${usr}/${DATADIR}/applications/varko.desktop
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
        fail("varko.desktop is invalid:\n" ${output})
    endif()
else()
    message(STATUS "desktop-file-validate not found; varko.desktop not checked")
endif()

# Installed straight into a prefix, the MIME and association caches are rebuilt, and
# every type varko.desktop names is one that the MIME package defines.
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
# update-mime-database exits 0 on a malformed package and only says so; CMake's own
# lines name paths, which may hold any word.
string(REGEX REPLACE "(^|\n)-- [^\n]*" "" tool_output "${output}")
if(NOT status EQUAL 0 OR tool_output MATCHES "Failed|[Ee]rror|[Ww]arning")
    fail("cmake --install into a prefix failed:\n" ${output})
endif()
file(READ ${prefix}/${DATADIR}/applications/varko.desktop desktop)
string(REGEX MATCH "\nMimeType=([^\n]*)" mime_line "${desktop}")
string(REGEX REPLACE ";$" "" declared "${CMAKE_MATCH_1}")
if(declared STREQUAL "")
    fail("varko.desktop names no MIME types")
endif()
find_program(update_mime_database update-mime-database)
if(update_mime_database)
    file(STRINGS ${prefix}/${DATADIR}/mime/types defined)
    foreach(type ${declared})
        if(NOT type IN_LIST defined)
            fail("varko.desktop names ${type}, which the MIME package does not define")
        endif()
    endforeach()
else()
    message(STATUS "update-mime-database not found; the MIME package not checked")
endif()
find_program(update_desktop_database update-desktop-database)
if(update_desktop_database)
    file(READ ${prefix}/${DATADIR}/applications/mimeinfo.cache associations)
    foreach(type ${declared})
        if(NOT associations MATCHES "\n${type}=[^\n]*varko\\.desktop")
            fail("${type} is not associated with varko.desktop")
        endif()
    endforeach()
endif()
