# Every program a user may run answers --help with its usage and --version with
# "NAME VERSION" on standard output, both with status 0, without a display.
# Arguments: BIN_DIR, PROGRAMS (a list), VERSION.
cmake_minimum_required(VERSION 3.20)

set(ENV{QT_QPA_PLATFORM} offscreen)
foreach(program ${PROGRAMS})
    execute_process(COMMAND ${BIN_DIR}/${program} --version TIMEOUT 20
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT status EQUAL 0 OR NOT output STREQUAL "${program} ${VERSION}\n")
        message(FATAL_ERROR "${program} --version ended with ${status}, printing '${output}' "
                            "and on stderr '${errors}'")
    endif()
    execute_process(COMMAND ${BIN_DIR}/${program} --help TIMEOUT 20
                    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT status EQUAL 0 OR NOT output MATCHES "^[Uu]sage: ${program} " OR NOT errors STREQUAL "")
        message(FATAL_ERROR "${program} --help ended with ${status}, printing '${output}' "
                            "and on stderr '${errors}'")
    endif()
endforeach()
