# Install rules and the Debian package.
#
#   <prefix>/lib/valdrune/valdrune                 the launcher, with its page extension beside it
#   <prefix>/bin/valdrune                          a link to it
#   <prefix>/share/applications/io.valdrune.Launcher.desktop
#   <prefix>/share/icons/hicolor/<size>/apps/io.valdrune.Launcher.{png,svg}
#   <prefix>/share/metainfo/io.valdrune.Launcher.metainfo.xml
#
# The launcher still copies itself into the player's data folder and every shortcut starts that
# copy (src/core/LauncherUpgrade.h says how a newer package reaches it). `cpack -G DEB` in the
# build folder makes the package; its dependencies come from dpkg-shlibdeps.

set(VALDRUNE_LIB_DIR lib/valdrune)
install(TARGETS valdrune RUNTIME DESTINATION ${VALDRUNE_LIB_DIR})
install(TARGETS valdrune-webext LIBRARY DESTINATION ${VALDRUNE_LIB_DIR})

# Relative, so it holds under any prefix and inside the package.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
file(CREATE_LINK ../${VALDRUNE_LIB_DIR}/valdrune ${CMAKE_BINARY_DIR}/packaging/valdrune SYMBOLIC)
install(FILES ${CMAKE_BINARY_DIR}/packaging/valdrune DESTINATION bin)

install(FILES packaging/io.valdrune.Launcher.desktop DESTINATION share/applications)
install(FILES packaging/io.valdrune.Launcher.metainfo.xml DESTINATION share/metainfo)
foreach(size IN LISTS VALDRUNE_ICON_SIZES)
    install(FILES ${VALDRUNE_ICON_DIR}/${size}.png DESTINATION share/icons/hicolor/${size}/apps
            RENAME io.valdrune.Launcher.png)
endforeach()
install(FILES ${VALDRUNE_ICON_DIR}/scalable.svg DESTINATION share/icons/hicolor/scalable/apps
        RENAME io.valdrune.Launcher.svg)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME valdrune)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})  # all four parts, as the launcher counts them
set(CPACK_PACKAGE_VENDOR Valdrune)
set(CPACK_PACKAGE_CONTACT "Valdrune launcher team <launcher@valdrune.io>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Launcher of the online game Valdrune (channel drevoline)")
set(CPACK_PACKAGE_DESCRIPTION
    "Shows the channel's login page, keeps the game client up to date and starts the game.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
