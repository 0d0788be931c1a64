# Turns each file of web/ into a constexpr string_view in one generated header, so the
# receiver serves the pages from its own bytes and never reads the disk at run time.
# Called as: cmake -DOUTPUT=<header> -DFILES=<file>|<file>... -P embed_web_files.cmake
string(REPLACE "|" ";" FILES "${FILES}")
set(text "// Generated from web/ at build time. Do not edit.\n#pragma once\n\n#include <string_view>\n\n")
foreach(path IN LISTS FILES)
    get_filename_component(name "${path}" NAME)
    string(TOUPPER "${name}" symbol)
    string(REGEX REPLACE "[^A-Z0-9]" "_" symbol "${symbol}")
    file(READ "${path}" hex HEX)
    file(SIZE "${path}" size)
    # One hex escape per byte, each in its own literal so no following digit joins it.
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\"\\\\x\\1\"" escaped "${hex}")
    string(APPEND text "inline constexpr std::string_view EMBEDDED_FILE_${symbol}{\n    \"\"${escaped}, ${size}};\n\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
