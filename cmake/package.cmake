# `cpack` in the build folder makes a .deb on Linux and a disk image on macOS, from the
# install rules.
set(CPACK_PACKAGE_NAME varko)
set(CPACK_PACKAGE_VENDOR "Varko team")
set(CPACK_PACKAGE_CONTACT "Varko team <team@varko.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Without this CPack pastes its own placeholder text into the package.
set(CPACK_PACKAGE_DESCRIPTION
    "Varko shows what a macOS app bundle or installer package declares about privacy "
    "(usage descriptions, entitlements) and how it is signed, with its own codesign, "
    "spctl and pkgutil stand-ins, and browses the privacy-related entries of the system log.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_STRIP_FILES ON)

if(APPLE)
    set(CPACK_GENERATOR DragNDrop)
    # The staged bundle gets its libraries and its signature before the image is made.
    find_program(VARKO_MACDEPLOYQT macdeployqt HINTS "${QT6_INSTALL_PREFIX}/bin" "${Qt6_DIR}/../../../bin"
                 REQUIRED)
    set(CPACK_VARKO_MACDEPLOYQT ${VARKO_MACDEPLOYQT})
    set(CPACK_VARKO_SIGN_IDENTITY ${VARKO_SIGN_IDENTITY})
    set(CPACK_VARKO_TOOLS ${user_tools})
    # As src/app names them: Qt and Poppler reach the bundle only through these.
    set(CPACK_VARKO_MODULES varko-helppdf${CMAKE_SHARED_MODULE_SUFFIX} varko-updatefetch${CMAKE_SHARED_MODULE_SUFFIX})
    set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/macosbundle.cmake)
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VARKO_HOMEPAGE}")
    # dpkg-shlibdeps turns the libraries the programs link into package dependencies.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # Disk images and zip archives are opened with 7-Zip's own program, not a library.
    # libarchive and libcrypto are loaded at their first call, so dpkg-shlibdeps can't see
    # them.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "7zip, libarchive13 | libarchive13t64, libssl3 | libssl3t64")
endif()

include(CPack)
