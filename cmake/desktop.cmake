# Desktop integration: the desktop entry, the application icon in every size
# of the hicolor theme, and the AppStream metainfo that software centres read
# (its launchable is brackwater.desktop, the name the windows give as their
# desktop file name).
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/brackwater.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

set(BRACKWATER_ICON_SIZES 16 22 24 32 48 64 128 256 512)
foreach(size ${BRACKWATER_ICON_SIZES})
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/${size}x${size}/brackwater.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/scalable/brackwater.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/io.github.brackwater.Brackwater.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
