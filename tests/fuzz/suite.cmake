# The libFuzzer targets (label "fuzz"): each replays its seed corpus and then fuzzes for 2 s,
# so a regression the fuzzers would find fails the suite. They are built with clang under ASan
# and UBSan in their own tree, build/fuzz (`make fuzz-build`, part of `make test`); a missing
# build fails these tests, it never skips them. `make fuzz` runs them for minutes.
include(${CMAKE_CURRENT_LIST_DIR}/targets.cmake)
foreach(name IN LISTS QUILLMARK_FUZZ_TARGETS)
    add_test(NAME fuzz.${name}
        COMMAND ${PROJECT_SOURCE_DIR}/scripts/run_fuzzers.sh --fresh 2 ${name}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
    set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 120)
endforeach()
