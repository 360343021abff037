# Installation under the usual prefix layout, and the Debian package `make package` builds.
#
#   bin/lintbay
#   share/applications/org.lintbay.Lintbay.desktop         the menu entry
#   share/metainfo/org.lintbay.Lintbay.metainfo.xml        what software centres show
#   share/icons/hicolor/NxN/apps/org.lintbay.Lintbay.png   the icon (tools/art/make_icon.py --theme)
#
# Everything else the program reads at run time (its icon, the three sounds) is compiled into it as
# Qt resources, and every setting has its default in the code, so nothing is looked for beside the
# executable.
# The release the metainfo announces: update it with the version in project().
set(LINTBAY_RELEASE_DATE 2026-12-09)
# Where software centres fetch the pictures of the windows (docs/*.png). The address is reserved for
# examples and never serves anyone else's pictures; whoever publishes the pictures sets it to their
# place (`appstreamcli validate --no-net` checks the metainfo without fetching them).
set(LINTBAY_SCREENSHOT_URL "https://lintbay.example.org/screenshots"
    CACHE STRING "Address of the folder holding cover.png, search.png and download.png")

install(TARGETS lintbay RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/resources/linux/${LINTBAY_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
configure_file(${PROJECT_SOURCE_DIR}/resources/linux/${LINTBAY_APP_ID}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/${LINTBAY_APP_ID}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/${LINTBAY_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/icons/hicolor
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

# The Debian package. Libraries the program links are found by dpkg-shlibdeps (with them the browser's
# page process, QtWebEngineProcess, which its library's package declares); what the program loads by
# name at run time is invisible to it and listed here:
#   libqt6sql6-sqlite         the SQLite driver of the download journal (a plugin)
#   libopencc-data            the Traditional-to-Simplified dictionaries, opened by file name
#   a CJK font                the whole interface is Chinese; without one it shows empty boxes
# Recommended: qt6-wayland (native Wayland windows; without it they go through XWayland) and
# xdg-utils (xdg-open, which opens downloaded files, folders and addresses).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lintbay)
set(CPACK_PACKAGE_VENDOR "The Lintbay developers")
set(CPACK_PACKAGE_CONTACT "The Lintbay developers <lintbay@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Find documents through a web search engine and download them in bulk")
set(CPACK_PACKAGE_DESCRIPTION
    "Lintbay finds documents (PDF, Word, PowerPoint, Excel, RTF) through a web search engine in its
embedded browser and downloads them in bulk. The interface is in Chinese.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt6sql6-sqlite, libopencc-data, fonts-wqy-microhei | fonts-noto-cjk | fonts-wqy-zenhei")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils")
include(CPack)
