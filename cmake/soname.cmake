# The name that the dynamic linker looks for when a program links `library`: what a
# library loaded at its first use is opened by.
function(varko_soname out library)
    execute_process(COMMAND ${CMAKE_OBJDUMP} -p ${library}
                    OUTPUT_VARIABLE headers RESULT_VARIABLE read)
    string(REGEX MATCH "SONAME +([^\n]+)" found "${headers}")
    if(NOT read EQUAL 0 OR NOT CMAKE_MATCH_1)
        message(FATAL_ERROR "No SONAME in ${library}")
    endif()
    set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()
