# SPDX-License-Identifier: MIT
#
# Removes what an install put in place: exactly the files the manifest
# lists, and the program's own data folder once it is empty.
#   cmake -DMANIFEST=build/install_manifest.txt -P cmake/uninstall.cmake
# The manifest names the files without DESTDIR: an install into DESTDIR is
# removed with the same DESTDIR set. The install writes the DESTDIR it used
# and its prefix into install_destdir.txt beside the manifest; with another
# DESTDIR now, the names would be another installation's, and nothing goes.
#
# Nothing else goes. A listed name that is now a folder, or a link (we
# install none), was put there by someone else and is kept, with a note;
# so is a listed file below the prefix that a link leads to (a folder of
# ours replaced by a link to someone's folder): its name is ours, the file
# is not.

if(NOT MANIFEST OR NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "Nothing to uninstall: no install manifest at '${MANIFEST}'")
endif()

# Trailing separators do not change what a DESTDIR names.
function(_vexlo32_trim out text)
  string(REGEX REPLACE "(.)/+$" "\\1" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

set(_prefix "")
get_filename_component(_marker_dir "${MANIFEST}" DIRECTORY)
set(_marker "${_marker_dir}/install_destdir.txt")
if(EXISTS "${_marker}")
  file(READ "${_marker}" _marker_text)
  if(NOT _marker_text MATCHES "^DESTDIR=([^\n]*)\nPREFIX=([^\n]*)\n")
    message(FATAL_ERROR "Nothing uninstalled: '${_marker}' is not the install's own record")
  endif()
  _vexlo32_trim(_installed_destdir "${CMAKE_MATCH_1}")
  _vexlo32_trim(_prefix "${CMAKE_MATCH_2}")
  _vexlo32_trim(_destdir "$ENV{DESTDIR}")
  if(NOT _installed_destdir STREQUAL _destdir)
    if(_installed_destdir STREQUAL "")
      set(_use "without DESTDIR")
    else()
      set(_use "with DESTDIR=${_installed_destdir}")
    endif()
    if(_destdir STREQUAL "")
      set(_now "without DESTDIR")
    else()
      set(_now "with DESTDIR=${_destdir}")
    endif()
    message(FATAL_ERROR "Nothing uninstalled: the files were installed ${_use}, "
                        "and this run is ${_now}; run the uninstall ${_use}")
  endif()
else()
  # An install by an older version, which kept no record: the DESTDIR is
  # taken as given, and every folder above the files is checked.
  message(STATUS "No ${_marker}: taking DESTDIR as given")
endif()

# True when the listed folder, with DESTDIR before it, is where its name
# says: no folder on the way down from the prefix (from the root for a name
# that lies elsewhere) is a link. The prefix itself may be reached through
# links; those are the system's. A folder that is not there holds nothing.
function(_vexlo32_folder_is_ours out listed_folder)
  set(${out} TRUE PARENT_SCOPE)
  if(NOT IS_DIRECTORY "$ENV{DESTDIR}${listed_folder}")
    return()
  endif()
  set(_top "")
  if(NOT _prefix STREQUAL "/")
    string(FIND "${listed_folder}/" "${_prefix}/" _at)
    if(_at EQUAL 0)
      set(_top "${_prefix}")
    endif()
  endif()
  string(LENGTH "${_top}" _length)
  string(SUBSTRING "${listed_folder}" ${_length} -1 _below)
  file(REAL_PATH "$ENV{DESTDIR}${_top}/" _real_top)
  file(REAL_PATH "$ENV{DESTDIR}${listed_folder}" _real)
  if(_real_top STREQUAL "/")
    set(_real_top "")
  endif()
  string(REGEX REPLACE "//+" "/" _expected "${_real_top}/${_below}")
  _vexlo32_trim(_expected "${_expected}")
  if(NOT _real STREQUAL _expected)
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

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
  get_filename_component(_listed_folder "${_listed}" DIRECTORY)
  get_filename_component(_name "${_listed_folder}" NAME)
  if(_name STREQUAL "vexlo32")
    list(APPEND _folders "${_listed_folder}")
  endif()
  _vexlo32_folder_is_ours(_ours "${_listed_folder}")
  if(NOT _ours)
    message(WARNING "Kept: ${_file} lies behind a link, which the install did not make")
    math(EXPR _kept "${_kept} + 1")
  elseif(IS_SYMLINK "${_file}")
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
foreach(_listed_folder IN LISTS _folders)
  set(_folder "$ENV{DESTDIR}${_listed_folder}")
  _vexlo32_folder_is_ours(_ours "${_listed_folder}")
  if(_ours AND IS_DIRECTORY "${_folder}" AND NOT IS_SYMLINK "${_folder}")
    execute_process(COMMAND rmdir "${_folder}" RESULT_VARIABLE _rc ERROR_QUIET)
    if(_rc EQUAL 0)
      message(STATUS "Removing: ${_folder}/")
    endif()
  endif()
endforeach()

if(_kept GREATER 0)
  message(FATAL_ERROR "${_kept} listed name(s) kept; see the warnings above")
endif()
