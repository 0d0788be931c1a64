# The libFuzzer targets: tests/fuzz/fuzz_<name>.cpp, seed corpus tests/fuzz/corpus/<name>/.
set(QUILLMARK_FUZZ_TARGETS serve_request json_fields redirect_line command_line adapter_ranking)
