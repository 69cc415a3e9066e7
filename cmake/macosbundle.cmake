# Run by CPack on macOS after it has staged the install and before it makes the disk image:
# puts Qt, Poppler and every other library that is not the system's inside Varko.app with
# relative install names, then signs the whole bundle, its nested code first. A bundle signed
# before its last file was copied in would fail Varko's own launch check.
# From package.cmake: CPACK_VARKO_MACDEPLOYQT, CPACK_VARKO_SIGN_IDENTITY ("-" signs ad hoc),
# CPACK_VARKO_TOOLS (the programs beside Varko's executable) and CPACK_VARKO_MODULES.
cmake_minimum_required(VERSION 3.20)

file(GLOB_RECURSE plists "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*Varko.app/Contents/Info.plist")
list(LENGTH plists found)
if(NOT found EQUAL 1)
    message(FATAL_ERROR "expected one staged Varko.app, found ${found}: ${plists}")
endif()
get_filename_component(app "${plists}" DIRECTORY)
get_filename_component(app "${app}" DIRECTORY)

set(extra "")
foreach(program ${CPACK_VARKO_TOOLS} ${CPACK_VARKO_MODULES})
    # A module missed here would reach the image without the libraries it needs.
    if(NOT EXISTS "${app}/Contents/MacOS/${program}")
        message(FATAL_ERROR "${program} is not in the staged bundle")
    endif()
    list(APPEND extra "-executable=${app}/Contents/MacOS/${program}")
endforeach()
execute_process(COMMAND "${CPACK_VARKO_MACDEPLOYQT}" "${app}" ${extra} -always-overwrite
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "macdeployqt failed (${status})")
endif()

include("${CMAKE_CURRENT_LIST_DIR}/macossign.cmake")
varko_sign_bundle("${app}" "${CPACK_VARKO_SIGN_IDENTITY}")
