# SPDX-License-Identifier: MIT
#
# Removes what an install put in place: exactly the files the manifest
# lists, and the program's own data folder once it is empty.
#   cmake -DMANIFEST=build/install_manifest.txt -P cmake/uninstall.cmake
# The manifest names the files without DESTDIR: an install into DESTDIR is
# removed with the same DESTDIR set.
#
# Nothing else goes. A listed name that is now a folder, or a link (we
# install none), was put there by someone else and is kept, with a note.

if(NOT MANIFEST OR NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: no install manifest at '${MANIFEST}'")
endif()

file(STRINGS "${MANIFEST}" _files)
set(_kept 0)
set(_folders)
foreach(_listed IN LISTS _files)
  set(_file "$ENV{DESTDIR}${_listed}")
  if(NOT IS_ABSOLUTE "${_listed}")
    message(WARNING "Kept: not an absolute path: ${_listed}")
    math(EXPR _kept "${_kept} + 1")
    continue()
  endif()
  # The folder of our data files, also when its files are already gone.
  get_filename_component(_folder "${_file}" DIRECTORY)
  get_filename_component(_name "${_folder}" NAME)
  if(_name STREQUAL "vexlo32")
    list(APPEND _folders "${_folder}")
  endif()
  if(IS_SYMLINK "${_file}")
    message(WARNING "Kept: ${_file} is a link, which the install did not make")
    math(EXPR _kept "${_kept} + 1")
  elseif(IS_DIRECTORY "${_file}")
    message(WARNING "Kept: ${_file} is a folder, which the install did not make")
    math(EXPR _kept "${_kept} + 1")
  elseif(EXISTS "${_file}")
    message(STATUS "Removing: ${_file}")
    file(REMOVE "${_file}")
    if(EXISTS "${_file}")
      message(WARNING "Could not remove ${_file}")
      math(EXPR _kept "${_kept} + 1")
    endif()
  else()
    message(STATUS "Already gone: ${_file}")
  endif()
endforeach()

# Our data folder, only if nothing else is in it: rmdir refuses a folder
# that is not empty, even one filled a moment ago.
list(REMOVE_DUPLICATES _folders)
foreach(_folder IN LISTS _folders)
  if(IS_DIRECTORY "${_folder}" AND NOT IS_SYMLINK "${_folder}")
    execute_process(COMMAND rmdir "${_folder}" RESULT_VARIABLE _rc ERROR_QUIET)
    if(_rc EQUAL 0)
      message(STATUS "Removing: ${_folder}/")
    endif()
  endif()
endforeach()

if(_kept GREATER 0)
  message(FATAL_ERROR "${_kept} listed name(s) kept; see the warnings above")
endif()
