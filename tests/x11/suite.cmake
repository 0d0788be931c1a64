# The Linux receiver on an X display of its own (label "x11"): Xvfb, a window of ours that
# records what it is typed, xclip and setxkbmap. `make test` installs them (package group e2e).
set(x11_tests_dir ${CMAKE_CURRENT_LIST_DIR})

add_executable(quillmark_x11_text_sink ${x11_tests_dir}/text_sink.cpp)
target_link_libraries(quillmark_x11_text_sink PRIVATE X11::X11)

add_executable(quillmark_x11_tests ${x11_tests_dir}/x11_desktop_test.cpp
    ${x11_tests_dir}/x_display.cpp ${e2e_support_sources})
target_link_libraries(quillmark_x11_tests PRIVATE quillmark_test_support GTest::gtest_main)
target_compile_definitions(quillmark_x11_tests PRIVATE
    QUILLMARK_RECEIVER_PATH="$<TARGET_FILE:quillmark-receiver>"
    QUILLMARK_TEXT_SINK_PATH="$<TARGET_FILE:quillmark_x11_text_sink>")
add_dependencies(quillmark_x11_tests quillmark-receiver quillmark_x11_text_sink)
gtest_discover_tests(quillmark_x11_tests PROPERTIES LABELS x11 DISCOVERY_TIMEOUT 30)
