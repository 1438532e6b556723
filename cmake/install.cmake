# Installing Vexlo32.
#
# The program looks for its help text and its sound beside itself, so it gets
# a folder of its own (<libdir>/vexlo32) holding the program, Vexlo32.txt and
# thunder.wav, and a link to it on the search path (<bindir>/vexlo32). The
# program finds its folder through the real file, not the link. That folder is
# usually not writable for the user, so the settings file and the temporary
# description file go to ~/.local/share/Vexlo32 instead.
#
# Menu entry and icons go where freedesktop.org desktops look for them.

set(VEXLO32_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/vexlo32)

install(TARGETS vexlo32 RUNTIME DESTINATION ${VEXLO32_INSTALL_DIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/generated/Vexlo32.txt
              ${CMAKE_CURRENT_SOURCE_DIR}/resources/thunder.wav
        DESTINATION ${VEXLO32_INSTALL_DIR})

# The link is relative, so that the installed tree can be moved (DESTDIR,
# packaging). With relative install folders it does not depend on the prefix,
# which "cmake --install --prefix" may still change.
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}" OR IS_ABSOLUTE "${VEXLO32_INSTALL_DIR}")
  get_filename_component(_vexlo32_bin "${CMAKE_INSTALL_BINDIR}" ABSOLUTE BASE_DIR "${CMAKE_INSTALL_PREFIX}")
  get_filename_component(_vexlo32_dir "${VEXLO32_INSTALL_DIR}" ABSOLUTE BASE_DIR "${CMAKE_INSTALL_PREFIX}")
else()
  set(_vexlo32_bin "/prefix/${CMAKE_INSTALL_BINDIR}")
  set(_vexlo32_dir "/prefix/${VEXLO32_INSTALL_DIR}")
endif()
file(RELATIVE_PATH VEXLO32_LINK_TARGET "${_vexlo32_bin}" "${_vexlo32_dir}/vexlo32")

install(CODE "
  set(_bindir \"${CMAKE_INSTALL_BINDIR}\")
  if(NOT IS_ABSOLUTE \"\${_bindir}\")
    set(_bindir \"\${CMAKE_INSTALL_PREFIX}/\${_bindir}\")
  endif()
  set(_link \"\$ENV{DESTDIR}\${_bindir}/vexlo32\")
  message(STATUS \"Installing: \${_link} -> ${VEXLO32_LINK_TARGET}\")
  file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${_bindir}\")
  file(REMOVE \"\${_link}\")
  file(CREATE_LINK \"${VEXLO32_LINK_TARGET}\" \"\${_link}\" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${_link}\")
")

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/vexlo32.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

foreach(size 16 32 48 64 128 256)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/vexlo32-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME vexlo32.png)
endforeach()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/vexlo32.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
