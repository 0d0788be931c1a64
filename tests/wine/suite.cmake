# The Windows receiver under Wine (label "wine"): build/windows/quillmark-receiver.exe from
# `make windows`, driven from Linux. A missing exe fails these tests; it never skips them.
# Every tests/wine/test_*.py module is one test; all share one Wine prefix per build tree, so
# they run one at a time.
find_program(QUILLMARK_PYTHON3 python3 REQUIRED)
set(wine_suite_dir ${CMAKE_CURRENT_LIST_DIR})
file(GLOB wine_test_modules CONFIGURE_DEPENDS ${wine_suite_dir}/test_*.py)
foreach(module_path IN LISTS wine_test_modules)
    get_filename_component(module ${module_path} NAME_WE)
    string(REGEX REPLACE "^test_" "wine." test_name ${module})
    add_test(NAME ${test_name}
        COMMAND ${QUILLMARK_PYTHON3} -B -m unittest -v ${module}
        WORKING_DIRECTORY ${wine_suite_dir})
    set_tests_properties(${test_name} PROPERTIES
        LABELS wine
        RESOURCE_LOCK quillmark_wine_prefix
        TIMEOUT 900
        ENVIRONMENT "QUILLMARK_WINDOWS_BUILD=${PROJECT_SOURCE_DIR}/build/windows;QUILLMARK_WINE_PREFIX=${PROJECT_BINARY_DIR}/wine-prefix;QUILLMARK_WINE_ARTIFACTS=${PROJECT_BINARY_DIR}/test-artifacts/wine")
endforeach()
set_tests_properties(wine.phone_to_windows PROPERTIES RESOURCE_LOCK "quillmark_wine_prefix;quillmark_chromium") # drives Chromium too
