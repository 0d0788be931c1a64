# What only tests and fuzz targets use. The library: the blocking HTTP path over a stream, one
# connection served on a loop of its own, the embedded bytes of a web file. The end-to-end
# sources (clients, child processes, the receiver started as one) are compiled into each suite
# that uses them, with that suite's paths.
set(support_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(quillmark_test_support STATIC ${support_dir}/blocking_http.cpp
    ${support_dir}/serve_connection.cpp ${support_dir}/embedded_file.cpp)
target_link_libraries(quillmark_test_support PUBLIC quillmark_ui)
set(e2e_support_sources ${support_dir}/net_client.cpp ${support_dir}/process.cpp
    ${support_dir}/receiver_process.cpp ${support_dir}/idle_connections.cpp)
