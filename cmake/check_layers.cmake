# Includes run only downward: a file of one layer may include headers of its own layer and of
# the layers before it in QUILLMARK_LAYERS, never of a later one, nor anything of tests/.
# Run by the build (target check_layers, part of every build) whenever a source file changes,
# so an upward include fails the build; also runs alone as
# `cmake -DSOURCE_DIR=<tree> -P cmake/check_layers.cmake`.
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)
set(ranked ${QUILLMARK_LAYERS} tests)  # tests/ ranks above every layer

set(upward_includes "")
foreach(layer IN LISTS QUILLMARK_LAYERS)
    list(FIND ranked ${layer} own_rank)
    file(GLOB_RECURSE layer_files ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
    foreach(file IN LISTS layer_files)
        file(STRINGS ${file} include_lines REGEX "^#include \"[a-z0-9_]+/")
        foreach(line IN LISTS include_lines)
            string(REGEX MATCH "\"([a-z0-9_]+)/" _ "${line}")
            list(FIND ranked ${CMAKE_MATCH_1} included_rank)
            if(included_rank GREATER own_rank)
                file(RELATIVE_PATH shown ${SOURCE_DIR} ${file})
                string(APPEND upward_includes "\n  ${shown}: ${line}")
            endif()
        endforeach()
    endforeach()
endforeach()
if(upward_includes)
    list(JOIN ranked " < " order)
    message(FATAL_ERROR "Includes must run downward (${order}):${upward_includes}")
endif()
if(STAMP)
    file(TOUCH ${STAMP})
endif()
