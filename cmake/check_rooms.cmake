# Checks every include of the library's rooms and of tools/ against the
# uses that rooms.cmake writes down; fails with one line per wrong include.
# Run by the build (a custom command before any room compiles) and by a
# test on a tree of its own:
#
#   cmake -DSOURCE_DIR=<tree> [-DSTAMP=<file to touch>] -P check_rooms.cmake
#
# An include names a room by its first folder ("mail/part_table.h"); the
# public header is the room "include". An include by a path that climbs
# ("../x.h") is refused: it would hide the room it reaches.
cmake_minimum_required(VERSION 3.16)
include(${CMAKE_CURRENT_LIST_DIR}/rooms.cmake)
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_rooms: SOURCE_DIR not given")
endif()

set(wrong "")
foreach(room ${CONTENTFILE_ROOMS} tools)
  file(GLOB_RECURSE files RELATIVE ${SOURCE_DIR}
       ${SOURCE_DIR}/${room}/*.h ${SOURCE_DIR}/${room}/*.cc
       ${SOURCE_DIR}/${room}/*.c)
  set(allowed ${room} ${CONTENTFILE_ROOM_USES_${room}})
  string(REPLACE ";" ", " allowed_text "${allowed}")
  foreach(file ${files})
    file(STRINGS ${SOURCE_DIR}/${file} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*[\"<]contentfile\\.h[\">]")
        set(used include)
      elseif(line MATCHES "#[ \t]*include[ \t]*\"([^\"]*)\"")
        set(path ${CMAKE_MATCH_1})
        if(path MATCHES "(^|/)\\.\\.(/|$)")
          string(APPEND wrong "  ${file}: ${line} (a climbing path)\n")
          continue()
        elseif(path MATCHES "^([^/]+)/")
          set(used ${CMAKE_MATCH_1})
        else()
          set(used ${room})  # beside the including file
        endif()
      else()
        continue()  # <...>: the system's and the standard library's
      endif()
      if(NOT used IN_LIST allowed)
        string(APPEND wrong
               "  ${file}: ${line} (${room} may include: ${allowed_text})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(wrong)
  message(FATAL_ERROR "includes across the rooms' limits:\n${wrong}")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
