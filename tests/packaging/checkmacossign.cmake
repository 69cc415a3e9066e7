# Signs a made-up bundle with a stand-in codesign that only notes what it is asked, and
# checks the order codesign --strict needs: nested code before what holds it, the main
# executable only through the bundle, data and links never. Arguments: SOURCE_DIR, WORK.
cmake_minimum_required(VERSION 3.20)

set(app "${WORK}/Varko.app")
file(REMOVE_RECURSE "${WORK}")
foreach(path Contents/MacOS/Varko Contents/MacOS/varko-codesign Contents/MacOS/libvarko_helppdf.so
             Contents/Frameworks/QtCore.framework/Versions/A/QtCore Contents/Frameworks/libpoppler.dylib
             Contents/PlugIns/platforms/libqcocoa.dylib)
    get_filename_component(folder "${app}/${path}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    # A 64-bit Mach-O's magic, as the file's first bytes.
    execute_process(COMMAND printf "\\317\\372\\355\\376rest" OUTPUT_FILE "${app}/${path}")
endforeach()
file(WRITE "${app}/Contents/Resources/VarkoHelp.pdf" "%PDF-")
file(CREATE_LINK Versions/A/QtCore "${app}/Contents/Frameworks/QtCore.framework/QtCore" SYMBOLIC)

file(WRITE "${WORK}/bin/codesign" "#!/bin/sh\nfor last; do :; done\necho \"$1 $last\" >> \"${WORK}/signed\"\n")
file(CHMOD "${WORK}/bin/codesign" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
set(ENV{PATH} "${WORK}/bin:$ENV{PATH}")
include("${SOURCE_DIR}/cmake/macossign.cmake")
varko_sign_bundle("${app}" "Developer ID Application: Example (ABCDE12345)")

file(STRINGS "${WORK}/signed" lines)
string(REPLACE "${app}/" "" lines "${lines}")
set(expected
    "--force PlugIns/platforms/libqcocoa.dylib" "--force MacOS/varko-codesign"
    "--force MacOS/libvarko_helppdf.so" "--force Frameworks/libpoppler.dylib"
    "--force Frameworks/QtCore.framework/Versions/A/QtCore" "--force Frameworks/QtCore.framework"
    "--force ${app}" "--verify ${app}")
string(REPLACE "Contents/" "" lines "${lines}")
if(NOT lines STREQUAL expected)
    string(REPLACE ";" "\n  " lines "${lines}")
    message(FATAL_ERROR "signed in this order:\n  ${lines}")
endif()
