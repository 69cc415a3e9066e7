# Fills in the macOS Info.plist template as CMake does for the bundle and reads it back
# with Python's plistlib, so that a broken template shows on any machine.
# Arguments: TEMPLATE, OUTPUT, PYTHON, and the variables that CMake and src/app set
# for the bundle.
cmake_minimum_required(VERSION 3.20)

configure_file(${TEMPLATE} ${OUTPUT})
set(to_json "import json, plistlib, sys; print(json.dumps(plistlib.load(open(sys.argv[1], 'rb'))))")
execute_process(COMMAND ${PYTHON} -c "${to_json}" ${OUTPUT}
                RESULT_VARIABLE status OUTPUT_VARIABLE plist ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "the Info.plist does not parse:\n${errors}")
endif()

# A misspelt variable leaves an empty string; the Finder then shows a nameless app.
string(JSON count LENGTH "${plist}")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
    string(JSON key MEMBER "${plist}" ${i})
    string(JSON type TYPE "${plist}" ${key})
    if(type STREQUAL "STRING")
        string(JSON value GET "${plist}" ${key})
        if(value STREQUAL "" OR value MATCHES "[$@]")
            message(FATAL_ERROR "${key} is left as '${value}'")
        endif()
    endif()
endforeach()

# The release the bundle declares is the one its code was compiled for.
string(JSON declared GET "${plist}" LSMinimumSystemVersion)
if(NOT declared STREQUAL DEPLOYMENT_TARGET)
    message(FATAL_ERROR "LSMinimumSystemVersion ${declared} is not the deployment target ${DEPLOYMENT_TARGET}")
endif()
