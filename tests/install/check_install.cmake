# SPDX-License-Identifier: MIT
#
# Installs the build into WORK_DIR, checks the installed tree and the
# installed program, uninstalls it, and checks what is left.
#   HOW=prefix:  cmake --install --prefix WORK_DIR/root
#   HOW=destdir: DESTDIR=WORK_DIR/root cmake --install --prefix /usr
# The install writes BUILD_DIR/install_manifest.txt; a manifest that was
# there before (a real installation's) is put back afterwards.

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    fail("failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(root ${WORK_DIR}/root)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${root})

set(manifest ${BUILD_DIR}/install_manifest.txt)
set(saved ${WORK_DIR}/saved_manifest.txt)
if(EXISTS ${manifest})
  file(COPY_FILE ${manifest} ${saved})
endif()
set(marker ${BUILD_DIR}/install_destdir.txt)
set(saved_marker ${WORK_DIR}/saved_destdir.txt)
if(EXISTS ${marker})
  file(COPY_FILE ${marker} ${saved_marker})
endif()

if(HOW STREQUAL "destdir")
  set(prefix /usr)
  set(ENV{DESTDIR} ${root})
  set(base ${root}/usr)
else()
  set(prefix ${root})
  unset(ENV{DESTDIR})
  set(base ${root})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE install_rc OUTPUT_VARIABLE install_out ERROR_VARIABLE install_err)
unset(ENV{DESTDIR})
# Keep this install's manifest, and give the build its own back at once.
if(EXISTS ${manifest})
  file(COPY_FILE ${manifest} ${WORK_DIR}/install_manifest.txt)
endif()
if(EXISTS ${saved})
  file(COPY_FILE ${saved} ${manifest})
else()
  file(REMOVE ${manifest})
endif()
if(EXISTS ${marker})
  file(COPY_FILE ${marker} ${WORK_DIR}/install_destdir.txt)
endif()
if(EXISTS ${saved_marker})
  file(COPY_FILE ${saved_marker} ${marker})
else()
  file(REMOVE ${marker})
endif()
if(NOT install_rc EQUAL 0)
  fail("install failed:\n${install_out}\n${install_err}")
endif()

# What goes where.
set(expected
  ${BINDIR}/vexlo32
  ${DATADIR}/vexlo32/Vexlo32.txt
  ${DATADIR}/vexlo32/thunder.wav
  ${DATADIR}/applications/vexlo32.desktop
  ${DATADIR}/metainfo/${METAINFO_ID}.metainfo.xml
  ${DATADIR}/icons/hicolor/48x48/apps/vexlo32.png
  ${DATADIR}/icons/hicolor/scalable/apps/vexlo32.svg)
if(MAN_PAGE)
  list(APPEND expected ${MANDIR}/man1/vexlo32.1)
endif()
foreach(file IN LISTS expected)
  if(IS_SYMLINK ${base}/${file} OR NOT EXISTS ${base}/${file} OR IS_DIRECTORY ${base}/${file})
    fail("not installed as a file: ${file}")
  endif()
endforeach()
file(GLOB_RECURSE installed LIST_DIRECTORIES false RELATIVE ${base} ${root}/*)
list(LENGTH installed count)
foreach(file IN LISTS installed)
  if(file MATCHES "^${DATADIR}/icons/hicolor/")
    continue()
  endif()
  list(FIND expected ${file} at)
  if(at EQUAL -1)
    fail("installed, but not expected: ${file}")
  endif()
endforeach()
# Nothing of ours in a library folder any more.
file(GLOB libs ${base}/lib*)
if(libs)
  fail("something went into a library folder: ${libs}")
endif()
# The help text and sound are the build's.
foreach(pair "${BUILD_DIR}/generated/Vexlo32.txt=Vexlo32.txt"
             "${SOURCE_DIR}/resources/thunder.wav=thunder.wav")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 from)
  list(GET pair 1 name)
  file(SHA256 ${from} want)
  file(SHA256 ${base}/${DATADIR}/vexlo32/${name} have)
  if(NOT want STREQUAL have)
    fail("${name} is not the build's")
  endif()
endforeach()

file(READ ${base}/${DATADIR}/applications/vexlo32.desktop desktop)
if(NOT desktop MATCHES "\nExec=vexlo32 %f\n")
  fail("the menu entry does not pass a file on:\n${desktop}")
endif()
if(MAN_PAGE)
  file(READ ${base}/${MANDIR}/man1/vexlo32.1 page)
  string(REPLACE "\\-" "-" page "${page}") # roff's hyphens
  if(NOT page MATCHES "\\.TH VEXLO32 \"1\"" OR NOT page MATCHES "--make-list"
     OR NOT page MATCHES "${VERSION}")
    fail("the manual page is not made from --help and --version:\n${page}")
  endif()
endif()

# The installed program runs, from wherever it was installed.
run(${base}/${BINDIR}/vexlo32 --version)
if(NOT run_output MATCHES "${VERSION}")
  fail("--version of the installed program: ${run_output}")
endif()
run(${base}/${BINDIR}/vexlo32 --help)
if(NOT run_output MATCHES "--make-list")
  fail("--help of the installed program: ${run_output}")
endif()

# The uninstall must stay inside the test's folder: every name it will
# remove lies there.
file(STRINGS ${WORK_DIR}/install_manifest.txt listed)
if(HOW STREQUAL "destdir")
  set(ENV{DESTDIR} ${root})
endif()
foreach(file IN LISTS listed)
  string(FIND "$ENV{DESTDIR}${file}" "${root}/" at)
  if(NOT at EQUAL 0)
    fail("the manifest names a file outside the test's folder: ${file}")
  endif()
endforeach()

set(uninstall -DMANIFEST=${WORK_DIR}/install_manifest.txt -P ${SOURCE_DIR}/cmake/uninstall.cmake)
if(NOT EXISTS ${WORK_DIR}/install_destdir.txt)
  fail("the install did not record its DESTDIR")
endif()

# Uninstall under another DESTDIR than the install's: the manifest's names
# there are another installation's (here a copy of ours), and nothing goes.
set(other ${WORK_DIR}/other)
if(HOW STREQUAL "destdir")
  file(COPY ${root}/ DESTINATION ${other})
  set(ENV{DESTDIR} ${other})
  set(want "run the uninstall with DESTDIR=${root}")
else()
  file(COPY ${root}/ DESTINATION ${other}${root})
  set(ENV{DESTDIR} ${other})
  set(want "run the uninstall without DESTDIR")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} ${uninstall} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
string(REGEX REPLACE "[ \n]+" " " err "${err}")
string(FIND "${err}" "${want}" said)
if(rc EQUAL 0 OR said EQUAL -1)
  fail("uninstall under another DESTDIR than the install's went ahead: ${out}${err}")
endif()
file(GLOB_RECURSE others LIST_DIRECTORIES false ${other}/*)
list(LENGTH others others_count)
if(NOT others_count EQUAL count)
  fail("uninstall under another DESTDIR removed files there")
endif()
file(REMOVE_RECURSE ${other})
if(HOW STREQUAL "destdir")
  set(ENV{DESTDIR} ${root})
else()
  unset(ENV{DESTDIR})
endif()

# Uninstall, with a file of someone else's beside ours, a listed file that
# someone replaced by a link, and our data folder replaced by a link to a
# user's folder that holds files of the same names: all stay, and the run
# says so.
file(WRITE ${base}/${BINDIR}/someone-elses "not ours\n")
file(WRITE ${base}/${DATADIR}/vexlo32/notes.txt "not ours either\n")
set(icon ${base}/${DATADIR}/icons/hicolor/scalable/apps/vexlo32.svg)
file(REMOVE ${icon})
file(CREATE_LINK ${base}/${BINDIR}/someone-elses ${icon} SYMBOLIC)
set(users ${WORK_DIR}/users-folder)
file(RENAME ${base}/${DATADIR}/vexlo32 ${users})
file(CREATE_LINK ${users} ${base}/${DATADIR}/vexlo32 SYMBOLIC)
execute_process(COMMAND ${CMAKE_COMMAND} ${uninstall} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
if(rc EQUAL 0)
  fail("uninstall removed or passed over a link it did not make without a word")
endif()
if(NOT IS_SYMLINK ${icon} OR NOT EXISTS ${base}/${BINDIR}/someone-elses
   OR NOT EXISTS ${users}/notes.txt)
  fail("uninstall removed what is not ours")
endif()
if(NOT EXISTS ${users}/Vexlo32.txt OR NOT EXISTS ${users}/thunder.wav
   OR NOT IS_SYMLINK ${base}/${DATADIR}/vexlo32)
  fail("uninstall removed files through a linked folder")
endif()
file(REMOVE ${base}/${DATADIR}/vexlo32)
file(RENAME ${users} ${base}/${DATADIR}/vexlo32)
file(REMOVE ${icon} ${base}/${BINDIR}/someone-elses ${base}/${DATADIR}/vexlo32/notes.txt)
# Once more, now that only ours is left: it succeeds, and nothing is left.
run(${CMAKE_COMMAND} ${uninstall})
file(GLOB_RECURSE left LIST_DIRECTORIES false ${root}/*)
if(left)
  fail("left after uninstall: ${left}")
endif()
if(EXISTS ${base}/${DATADIR}/vexlo32)
  fail("the data folder is left after uninstall")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
