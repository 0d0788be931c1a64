# Turns each given file into a constexpr string_view in one generated header, so the receiver
# serves the pages (and the decoder) from its own bytes and never reads the disk at run time.
# Called as: cmake -DOUTPUT=<header> -DFILES=<file>|<file>... [-DPREFIX=<symbol prefix>]
#                  -P embed_web_files.cmake
# A file's symbol is the prefix (EMBEDDED_FILE_ by default) and its upper-cased name.
string(REPLACE "|" ";" FILES "${FILES}")
if(NOT PREFIX)
    set(PREFIX EMBEDDED_FILE_)
endif()
set(text "// Generated at build time. Do not edit.\n#pragma once\n\n#include <string_view>\n\n")
foreach(path IN LISTS FILES)
    get_filename_component(name "${path}" NAME)
    string(TOUPPER "${name}" symbol)
    string(REGEX REPLACE "[^A-Z0-9]" "_" symbol "${symbol}")
    file(READ "${path}" hex HEX)
    file(SIZE "${path}" size)
    # Every byte a hex escape, all in one literal: an escape ends at the next backslash, so no
    # digit joins it, and one literal per file compiles a megabyte in a fraction of a second
    # (a literal per byte took seconds and ten times the memory).
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    string(APPEND text "inline constexpr std::string_view ${PREFIX}${symbol}{\n    \"${escaped}\", ${size}};\n\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
