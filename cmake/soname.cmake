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

# Lets `target` call `library` through `shim`, which opens the library by its SONAME (given
# as the macro `macro`) at the first call, rather than the dynamic linker at every start.
function(varko_load_at_first_use target library macro shim includes)
    varko_soname(soname ${library})
    target_sources(${target} PRIVATE ${shim})
    target_compile_definitions(${target} PRIVATE ${macro}="${soname}")
    target_include_directories(${target} PRIVATE ${includes})
    target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
endfunction()
