# Signs an app bundle as codesign --strict expects: every piece of nested code on its own,
# deepest first, then the bundle, whose seal then covers them all. An identity other than
# "-" (ad hoc) also gets the hardened runtime and a secure timestamp, as notarization asks.

function(varko_is_macho file result)
    file(READ "${file}" magic LIMIT 4 HEX)
    # Thin 32- and 64-bit in either byte order, and universal files.
    if(magic MATCHES "^(feedface|feedfacf|cefaedfe|cffaedfe|cafebabe|cafebabf)$")
        set(${result} TRUE PARENT_SCOPE)
    else()
        set(${result} FALSE PARENT_SCOPE)
    endif()
endfunction()

function(varko_sign path identity)
    set(options --force --sign "${identity}")
    if(NOT identity STREQUAL "-")
        list(APPEND options --options runtime --timestamp)
    endif()
    execute_process(COMMAND codesign ${options} "${path}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "codesign could not sign ${path} (${status})")
    endif()
endfunction()

function(varko_sign_bundle app identity)
    # Frameworks are signed as bundles of their own, after the code inside them.
    file(GLOB frameworks LIST_DIRECTORIES true "${app}/Contents/Frameworks/*.framework")
    file(GLOB_RECURSE files LIST_DIRECTORIES false "${app}/Contents/Frameworks/*"
         "${app}/Contents/PlugIns/*" "${app}/Contents/MacOS/*")
    get_filename_component(main "${app}" NAME_WE)
    # Deepest first: a longer path sorts after its folder, so reverse order signs it earlier.
    list(SORT files)
    list(REVERSE files)
    foreach(file ${files})
        if(IS_SYMLINK "${file}" OR file STREQUAL "${app}/Contents/MacOS/${main}")
            continue()
        endif()
        varko_is_macho("${file}" code)
        if(code)
            varko_sign("${file}" "${identity}")
        endif()
    endforeach()
    foreach(framework ${frameworks})
        varko_sign("${framework}" "${identity}")
    endforeach()
    varko_sign("${app}" "${identity}")
    execute_process(COMMAND codesign --verify --strict --deep "${app}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${app} does not verify after signing")
    endif()
endfunction()

# Run as a script (cmake -DAPP=… -DIDENTITY=… -P macossign.cmake): the developer build signs
# itself after its last copy.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    varko_sign_bundle("${APP}" "${IDENTITY}")
endif()
