# Writes the installed form of the public headers: each `#include "dir/Name.h"` becomes
# `#include <ledgerkit/dir/Name.h>`, so a caller's include path holds the one directory
# `ledgerkit` and no generic names. A public header that includes anything but another public
# header stops the build: what it includes would be missing from the installed package.
#
# Run with cmake -P and: SOURCE_DIR (the src directory), HEADERS (comma-separated, relative
# to SOURCE_DIR or absolute for generated ones, each installed as RELATIVE_NAMES says),
# RELATIVE_NAMES (comma-separated, the same order), OUTPUT_DIR.
string(REPLACE "," ";" headers "${HEADERS}")
string(REPLACE "," ";" names "${RELATIVE_NAMES}")
list(LENGTH headers count)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  list(GET headers ${i} header)
  list(GET names ${i} name)
  if(IS_ABSOLUTE "${header}")
    set(path "${header}")
  else()
    set(path "${SOURCE_DIR}/${header}")
  endif()
  file(READ "${path}" text)
  string(REGEX MATCHALL "#include \"[^\"]+\"" includes "${text}")
  foreach(directive IN LISTS includes)
    string(REGEX REPLACE "#include \"([^\"]+)\"" "\\1" included "${directive}")
    list(FIND names "${included}" found)
    if(found EQUAL -1)
      message(FATAL_ERROR "public header ${name} includes ${included}, which is not installed")
    endif()
  endforeach()
  string(REGEX REPLACE "#include \"([^\"]+)\"" "#include <ledgerkit/\\1>" text "${text}")
  set(out "${OUTPUT_DIR}/ledgerkit/${name}")
  # Unchanged content keeps its time stamp, so consumers in the tree do not rebuild.
  if(EXISTS "${out}")
    file(READ "${out}" previous)
    if(previous STREQUAL text)
      continue()
    endif()
  endif()
  file(WRITE "${out}" "${text}")
endforeach()

# A header dropped from the list (or renamed) must not linger in the installed set.
file(GLOB_RECURSE written RELATIVE "${OUTPUT_DIR}/ledgerkit" "${OUTPUT_DIR}/ledgerkit/*")
foreach(file IN LISTS written)
  list(FIND names "${file}" found)
  if(found EQUAL -1)
    file(REMOVE "${OUTPUT_DIR}/ledgerkit/${file}")
  endif()
endforeach()
