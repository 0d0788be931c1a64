# Turns each given file into a constexpr string_view in one generated header, so the receiver
# serves the pages (and the decoder) from its own bytes and never reads the disk at run time.
# Called as: cmake -DOUTPUT=<header> -DFILES=<file>|<file>... [-DPREFIX=<symbol prefix>]
#                  [-DBASE=<folder> -DROWS=<table rows file>] -P embed_web_files.cmake
# A file's symbol is the prefix (EMBEDDED_FILE_ by default) and its upper-cased path below BASE
# (its name alone without BASE). With BASE and ROWS, ROWS also gets one table row per file:
# {"/<path below BASE>", <content type by extension>, <symbol>}.
string(REPLACE "|" ";" FILES "${FILES}")
if(NOT PREFIX)
    set(PREFIX EMBEDDED_FILE_)
endif()
set(text "// Generated at build time. Do not edit.\n#pragma once\n\n#include <string_view>\n\n")
set(rows "// Generated at build time. Do not edit.\n")
foreach(path IN LISTS FILES)
    if(BASE)
        file(RELATIVE_PATH name "${BASE}" "${path}")
    else()
        get_filename_component(name "${path}" NAME)
    endif()
    string(TOUPPER "${name}" symbol)
    string(REGEX REPLACE "[^A-Z0-9]" "_" symbol "${symbol}")
    file(READ "${path}" hex HEX)
    file(SIZE "${path}" size)
    # Every byte a hex escape, all in one literal: an escape ends at the next backslash, so no
    # digit joins it, and one literal per file compiles a megabyte in a fraction of a second
    # (a literal per byte took seconds and ten times the memory).
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
    string(APPEND text "inline constexpr std::string_view ${PREFIX}${symbol}{\n    \"${escaped}\", ${size}};\n\n")
    if(name MATCHES "\\.html$")
        set(type "text/html; charset=utf-8")
    elseif(name MATCHES "\\.css$")
        set(type "text/css; charset=utf-8")
    else()
        # The browser loads the scripts as ES modules, which it refuses under a non-script type.
        set(type "text/javascript; charset=utf-8")
    endif()
    string(APPEND rows "{\"/${name}\", \"${type}\", ${PREFIX}${symbol}},\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
if(ROWS)
    file(WRITE "${ROWS}.tmp" "${rows}")
    file(COPY_FILE "${ROWS}.tmp" "${ROWS}" ONLY_IF_DIFFERENT)
endif()
