# `cmake --install`: both programs, the man page of zelvo (made at build time when help2man is
# there, from its --help and each subcommand's), its bash completion, and the desktop entry with
# its icon.
include(GNUInstallDirs)

install(TARGETS zelvo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET zelvo-tool)
  install(TARGETS zelvo-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/resources/zelvo-tool.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/resources/zelvo-tool.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/resources/zelvo.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zelvo)

find_program(HELP2MAN help2man)
if(HELP2MAN)
  set(zelvo_man ${PROJECT_BINARY_DIR}/zelvo.1)
  set(zelvo_man_commands ${PROJECT_BINARY_DIR}/zelvo-commands.h2m)
  add_custom_command(
    OUTPUT ${zelvo_man}
    COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/man_commands.sh $<TARGET_FILE:zelvo> ${zelvo_man_commands}
    COMMAND ${HELP2MAN} --no-info --section=1 --name "build high-resolution graphics packs for Master System games"
            --include=${zelvo_man_commands} --output=${zelvo_man} $<TARGET_FILE:zelvo>
    DEPENDS zelvo ${PROJECT_SOURCE_DIR}/cmake/man_commands.sh
    COMMENT "Writing the zelvo man page"
    VERBATIM)
  add_custom_target(zelvo_man ALL DEPENDS ${zelvo_man})
  install(FILES ${zelvo_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: the zelvo man page is not made")
endif()
