# The receiver's Windows resources (manifest, icon, version block), compiled by windres. The icon
# is drawn at build time from one SVG in every size Windows asks for. Sets
# windows_resource_script for the receiver's sources.
enable_language(RC)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)  # librsvg2-bin
find_program(ICOTOOL icotool REQUIRED)            # icoutils

set(RESOURCE_DIR ${PROJECT_SOURCE_DIR}/app/resources)
set(icon_source ${RESOURCE_DIR}/receiver-icon.svg)
set(icon_dir ${PROJECT_BINARY_DIR}/generated/icon)
set(ICON_FILE ${icon_dir}/receiver.ico)
# The ids the window code uses too, so they live with it.
set(RESOURCE_IDS_HEADER ${PROJECT_SOURCE_DIR}/ui/win32/resource_ids.h)

# 256 goes in as PNG, as Windows expects of that size; the small ones as bitmaps.
set(icon_commands COMMAND ${CMAKE_COMMAND} -E make_directory ${icon_dir})
set(bitmap_pngs)
foreach(size 16 20 24 32 40 48 64 256)
    set(png ${icon_dir}/receiver-${size}.png)
    list(APPEND icon_commands COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
        ${icon_source})
    if(size EQUAL 256)
        set(large_png ${png})
    else()
        list(APPEND bitmap_pngs ${png})
    endif()
endforeach()
add_custom_command(
    OUTPUT ${ICON_FILE}
    ${icon_commands}
    COMMAND ${ICOTOOL} -c -o ${ICON_FILE} ${bitmap_pngs} -r ${large_png}
    DEPENDS ${icon_source}
    COMMENT "Drawing the receiver's icon"
    VERBATIM)

set(windows_resource_script ${PROJECT_BINARY_DIR}/generated/receiver.rc)
configure_file(${RESOURCE_DIR}/receiver.rc.in ${windows_resource_script} @ONLY)
set_source_files_properties(${windows_resource_script} PROPERTIES
    OBJECT_DEPENDS "${ICON_FILE};${RESOURCE_DIR}/receiver.manifest;${RESOURCE_IDS_HEADER}")
