# SPDX-License-Identifier: MIT
# Installing Vexlo32.
#
# The layout of a Linux program (the file system hierarchy standard):
#   <bindir>/vexlo32                       the program
#   <datadir>/vexlo32/Vexlo32.txt          the help text
#   <datadir>/vexlo32/thunder.wav          the sound of the About box
#   <datadir>/applications/vexlo32.desktop the menu entry
#   <datadir>/metainfo/<id>.metainfo.xml   what software centres show
#   <datadir>/icons/hicolor/...            the icon
#   <mandir>/man1/vexlo32.1                the manual page (with help2man)
# The program finds its data folder from its own folder (the build gives it
# the way from <bindir> to <datadir>/vexlo32), so that the installed tree can
# be moved, and DESTDIR works for packaging. It writes nothing there: the
# settings and its temporary files go to the user's own folders.
#
# "uninstall" removes exactly the files install_manifest.txt lists, under the
# DESTDIR recorded in install_destdir.txt.

set(VEXLO32_METAINFO_ID io.github.vexlo32.vexlo32)

# The program in bin. Older versions kept it in <libdir>/vexlo32 with a
# link here; installing over that link would write through it into the old
# program, so that link goes first, if it is exactly the one we made.
set(_vexlo32_old_link "../${CMAKE_INSTALL_LIBDIR}/vexlo32/vexlo32")
install(CODE "
  set(_bindir \"${CMAKE_INSTALL_BINDIR}\")
  if(NOT IS_ABSOLUTE \"\${_bindir}\")
    set(_bindir \"\${CMAKE_INSTALL_PREFIX}/\${_bindir}\")
  endif()
  set(_link \"\$ENV{DESTDIR}\${_bindir}/vexlo32\")
  if(IS_SYMLINK \"\${_link}\")
    file(READ_SYMLINK \"\${_link}\" _target)
    if(_target STREQUAL \"${_vexlo32_old_link}\")
      message(STATUS \"Removing the link of an older version: \${_link}\")
      file(REMOVE \"\${_link}\")
    endif()
  endif()
")
install(TARGETS vexlo32 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${CMAKE_CURRENT_BINARY_DIR}/generated/Vexlo32.txt
              ${CMAKE_CURRENT_SOURCE_DIR}/resources/thunder.wav
        DESTINATION ${VEXLO32_DATA_DIR})

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/vexlo32.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/${VEXLO32_METAINFO_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

foreach(size 16 32 48 64 128 256)
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/vexlo32-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME vexlo32.png)
endforeach()
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/resources/icons/vexlo32.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The manual page, made from the program's own --help and --version, so that
# it says what the program does. Without help2man there is none.
option(VEXLO32_MAN_PAGE "Make and install the manual page (needs help2man)" ON)
if(VEXLO32_MAN_PAGE)
  find_program(VEXLO32_HELP2MAN help2man)
endif()
if(VEXLO32_MAN_PAGE AND VEXLO32_HELP2MAN)
  set(VEXLO32_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/vexlo32.1)
  add_custom_command(
    OUTPUT ${VEXLO32_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            ${VEXLO32_HELP2MAN} --no-info --section=1
            "--name=make file lists of archive folders and edit FILE_ID.DIZ descriptions"
            --output=${VEXLO32_MAN_PAGE} $<TARGET_FILE:vexlo32>
    DEPENDS vexlo32
    COMMENT "Making the manual page vexlo32.1 from --help and --version"
    VERBATIM)
  add_custom_target(vexlo32_man ALL DEPENDS ${VEXLO32_MAN_PAGE})
  install(FILES ${VEXLO32_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
elseif(VEXLO32_MAN_PAGE)
  message(STATUS "help2man not found: no manual page will be made or installed "
                 "(scripts/deps.sh installs it)")
endif()

# Where this install went, beside the manifest: the manifest names files
# without DESTDIR, so an uninstall must know the DESTDIR they were put under
# (or it would remove another installation's files), and the prefix, above
# which nothing of the install's own is a link. Written last, after every
# file is in place.
install(CODE "
  file(WRITE \"${CMAKE_CURRENT_BINARY_DIR}/install_destdir.txt\"
       \"DESTDIR=\$ENV{DESTDIR}\\nPREFIX=\${CMAKE_INSTALL_PREFIX}\\n\")
")

if(NOT TARGET uninstall)
  add_custom_target(uninstall
    COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_CURRENT_BINARY_DIR}/install_manifest.txt
            -P ${CMAKE_CURRENT_SOURCE_DIR}/cmake/uninstall.cmake
    COMMENT "Removing the files install_manifest.txt lists"
    VERBATIM)
endif()
