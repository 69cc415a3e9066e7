# The AppStream data and the manual pages as a desktop installs them: the data valid
# by appstreamcli without the network, each page rendered by groff without a warning.
# Arguments: METAINFO, PAGES (a list).
cmake_minimum_required(VERSION 3.20)

set(missing "")
find_program(appstreamcli appstreamcli)
if(appstreamcli)
    execute_process(COMMAND ${appstreamcli} validate --no-net ${METAINFO}
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "appstreamcli finds ${METAINFO} invalid:\n${output}")
    endif()
else()
    list(APPEND missing "appstreamcli (Debian's appstream)")
endif()

find_program(groff groff)
if(groff)
    # UTF-8 output, so that a character the page spells wrongly warns instead of vanishing.
    set(ENV{LC_ALL} C.UTF-8)
    foreach(page ${PAGES})
        execute_process(COMMAND ${groff} -man -Tutf8 -ww -z ${page}
                        RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE warnings)
        if(NOT status EQUAL 0 OR NOT warnings STREQUAL "")
            message(FATAL_ERROR "groff does not render ${page} cleanly:\n${warnings}")
        endif()
    endforeach()
else()
    list(APPEND missing "groff (Debian's groff-base)")
endif()

if(missing)
    string(JOIN ", " missing ${missing})
    message("SKIPPED: not checked without ${missing}")
endif()
