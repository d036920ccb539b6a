# The release archive. `cmake --build --preset windows --target package`
# writes Lumbrix-<version>-win64.zip and Lumbrix-<version>-win64.zip.sha256
# into the build folder: in one folder Lumbrix, lumbrix.exe as built, the
# Japanese guide as one HTML file, and the licence as LICENSE.txt. The folder
# carries no version, so that a new zip unpacked where the old one was goes
# over the old files, and the setting and exclude files beside them and the
# startup shortcut to lumbrix.exe go on working.

set(GUIDE_SOURCE ${PROJECT_SOURCE_DIR}/docs/ja/guide.md)
set(GUIDE_HTML ${PROJECT_BINARY_DIR}/guide-ja.html)
# Debian's python3, which has the python3-markdown of scripts/deps.sh; a
# python3 earlier on PATH (pyenv, a virtualenv) may lack it.
add_custom_command(OUTPUT ${GUIDE_HTML}
    COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/scripts/guide_html.py ${GUIDE_SOURCE} ${GUIDE_HTML}
        ${PROJECT_VERSION}
    DEPENDS ${GUIDE_SOURCE} ${PROJECT_SOURCE_DIR}/docs/ja/settings-window.png
        ${PROJECT_SOURCE_DIR}/docs/ja/tray-menu.png
        ${PROJECT_SOURCE_DIR}/scripts/guide_html.py
    VERBATIM)
add_custom_target(guide ALL DEPENDS ${GUIDE_HTML})

# CRLF, which every Notepad shows as lines; the text has no @ to replace.
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)

install(TARGETS lumbrix RUNTIME DESTINATION Lumbrix)
install(FILES ${GUIDE_HTML} ${PROJECT_BINARY_DIR}/LICENSE.txt DESTINATION Lumbrix)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME Lumbrix-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_LUMBRIX_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_zip.cmake)
include(CPack)
