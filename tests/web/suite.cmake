# Phone web app: Node's test runner on the pure modules, and Chromium browser tests against the
# built receiver. `make web-setup` installs Node.js, Chromium, ffmpeg, zint and the npm packages.
# Node.js is looked up on PATH when the tests run, so a configure before that setup still
# registers them (and a missing setup fails them loudly rather than skipping them).
set(web_tests_dir ${CMAKE_CURRENT_LIST_DIR})

file(GLOB web_unit_test_files CONFIGURE_DEPENDS ${web_tests_dir}/unit/*.test.js)
foreach(test_file IN LISTS web_unit_test_files)
    get_filename_component(test_name ${test_file} NAME_WE)
    add_test(NAME web_unit_${test_name}
        COMMAND node --test ${test_file}
        WORKING_DIRECTORY ${web_tests_dir})
    set_tests_properties(web_unit_${test_name} PROPERTIES LABELS web TIMEOUT 120)
endforeach()

file(GLOB web_browser_test_files CONFIGURE_DEPENDS ${web_tests_dir}/browser/*.test.js)
foreach(test_file IN LISTS web_browser_test_files)
    get_filename_component(test_name ${test_file} NAME_WE)
    add_test(NAME web_browser_${test_name}
        COMMAND node --test ${test_file}
        WORKING_DIRECTORY ${web_tests_dir})
    # One Chromium at a time: the machine has two cores and each browser keeps one busy.
    set_tests_properties(web_browser_${test_name} PROPERTIES
        LABELS web
        TIMEOUT 600
        RESOURCE_LOCK quillmark_chromium
        ENVIRONMENT "QUILLMARK_RECEIVER=$<TARGET_FILE:quillmark-receiver>;QUILLMARK_X11_SINK=$<TARGET_FILE:quillmark_x11_text_sink>;QUILLMARK_ARTIFACTS=${PROJECT_BINARY_DIR}/test-artifacts")
endforeach()
