# Turns the result-code data file (hex code, tab, text; one row a line, sorted by
# code) into the rows of a C++ table.
#   cmake -DINPUT=<tsv> -DOUTPUT=<inc> -P result_codes_table.cmake
# Fails on a malformed, unsorted or duplicated row, so a bad data file never builds.

file(READ "${INPUT}" content)
# Characters that CMake lists treat specially stand in as placeholders until the
# row is written out.
string(REPLACE "\\" "@BSL@" content "${content}")
string(REPLACE "\"" "@QUOTE@" content "${content}")
string(REPLACE ";" "@SEMI@" content "${content}")
string(REPLACE "[" "@LBR@" content "${content}")
string(REPLACE "]" "@RBR@" content "${content}")
string(REGEX REPLACE "\n$" "" content "${content}")
string(REPLACE "\n" ";" lines "${content}")

set(out "// Generated from result-codes.tsv; do not edit.\n")
set(previous "")
set(count 0)
foreach(line IN LISTS lines)
  math(EXPR count "${count} + 1")
  if(NOT line MATCHES "^0x([0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F][0-9A-F])\t([^\t\r]+)$")
    message(FATAL_ERROR "${INPUT}:${count}: malformed row")
  endif()
  set(code "${CMAKE_MATCH_1}")
  set(text "${CMAKE_MATCH_2}")
  if(NOT previous STREQUAL "" AND NOT previous STRLESS code)
    message(FATAL_ERROR "${INPUT}:${count}: code 0x${code} is out of order or repeated")
  endif()
  set(previous "${code}")
  string(REPLACE "@BSL@" "\\\\" text "${text}")
  string(REPLACE "@QUOTE@" "\\\"" text "${text}")
  string(REPLACE "@SEMI@" ";" text "${text}")
  string(REPLACE "@LBR@" "[" text "${text}")
  string(REPLACE "@RBR@" "]" text "${text}")
  string(APPEND out "{0x${code}u, \"${text}\"},\n")
endforeach()

file(WRITE "${OUTPUT}.tmp" "${out}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
