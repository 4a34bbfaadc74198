# Batch mode: the man page and the file-manager actions (a Dolphin service
# menu and Nautilus scripts) that run the batch mode on the selected files.
# The scripts find the binary and the action relative to where they are
# installed, so `cmake --install --prefix` elsewhere than the configured prefix
# works; the service menu, which needs an absolute path, is written at install
# time for the prefix installed into.
set(BRACKWATER_BIN "${CMAKE_INSTALL_FULL_BINDIR}/brackwater")
set(BRACKWATER_ACTION_DIR "${CMAKE_INSTALL_FULL_LIBEXECDIR}/brackwater")
set(BRACKWATER_ACTION "${BRACKWATER_ACTION_DIR}/brackwater-action")
set(BRACKWATER_NAUTILUS_DIR "${CMAKE_INSTALL_FULL_DATADIR}/brackwater/nautilus-scripts/Brackwater")
file(RELATIVE_PATH ACTION_TO_BIN "${BRACKWATER_ACTION_DIR}" "${CMAKE_INSTALL_FULL_BINDIR}")
file(RELATIVE_PATH SCRIPT_TO_ACTION "${BRACKWATER_NAUTILUS_DIR}" "${BRACKWATER_ACTION}")
set(BATCH_GEN "${CMAKE_CURRENT_BINARY_DIR}/batch")
set(BATCH_EXEC OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
    WORLD_EXECUTE)

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/doc/brackwater.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/desktop/brackwater-action.in
    ${BATCH_GEN}/brackwater-action @ONLY FILE_PERMISSIONS ${BATCH_EXEC})
install(PROGRAMS ${BATCH_GEN}/brackwater-action
    DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/brackwater)

# The service menu of the build tree names the configured prefix; the one
# installed names the prefix of the install.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/desktop/brackwater-forks.desktop.in
    ${BATCH_GEN}/brackwater-forks.desktop @ONLY)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBEXECDIR}")
    set(BATCH_LIBEXEC_AT_INSTALL "${CMAKE_INSTALL_LIBEXECDIR}")
else()
    set(BATCH_LIBEXEC_AT_INSTALL "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}")
endif()
install(CODE "
    set(BRACKWATER_ACTION \"${BATCH_LIBEXEC_AT_INSTALL}/brackwater/brackwater-action\")
    configure_file(\"${CMAKE_CURRENT_SOURCE_DIR}/desktop/brackwater-forks.desktop.in\"
        \"${BATCH_GEN}/installed/brackwater-forks.desktop\" @ONLY)")
# Dolphin (KF6) runs service menus only when they are executable.
install(PROGRAMS ${BATCH_GEN}/installed/brackwater-forks.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/kio/servicemenus)

foreach(script "flip|Flip-delete data forks|flip/delete the data forks"
               "delete-data|Delete data forks|delete the data forks"
               "delete-resource|Delete resource forks|delete the resource forks")
    string(REPLACE "|" ";" parts "${script}")
    list(GET parts 0 OPERATION)
    list(GET parts 1 SCRIPT_NAME)
    list(GET parts 2 DESCRIPTION)
    configure_file(${CMAKE_CURRENT_SOURCE_DIR}/desktop/nautilus-script.in
        "${BATCH_GEN}/nautilus/Brackwater/${SCRIPT_NAME}" @ONLY
        FILE_PERMISSIONS ${BATCH_EXEC})
    install(PROGRAMS "${BATCH_GEN}/nautilus/Brackwater/${SCRIPT_NAME}"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/brackwater/nautilus-scripts/Brackwater)
endforeach()
