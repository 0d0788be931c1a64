# Every target installs what it needs on a fresh Debian 12 machine, configures and builds.
LINUX_BUILD := build/linux
# Seconds each fuzz target runs in `make fuzz`.
FUZZ_SECONDS ?= 180

.PHONY: run test check bench bench-web linux windows installer web-setup packages-build fuzz \
	fuzz-build sanitize

run: linux
	$(LINUX_BUILD)/quillmark-receiver --headless

# The whole suite: unit, end-to-end, browser (web), Windows-under-Wine (wine) and a short run of
# every fuzz target over its seed corpus (fuzz).
test: linux windows installer web-setup fuzz-build
	scripts/install_packages.sh e2e
	ctest --test-dir $(LINUX_BUILD) --output-on-failure --timeout 900

# The fast unit tests only.
check: linux
	ctest --test-dir $(LINUX_BUILD) --output-on-failure -L unit

linux: packages-build
	cmake --preset linux
	cmake --build --preset linux

# build/windows/quillmark-receiver.exe, cross-compiled with MinGW-w64.
windows:
	scripts/build_windows.sh

# build/windows/quillmark-setup-X.Y.Z.exe, the installer, made with NSIS from the Windows build.
installer: windows
	scripts/build_installer.sh

# The libFuzzer targets (clang, ASan and UBSan) in build/fuzz.
fuzz-build:
	scripts/install_packages.sh build fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz

# Every fuzz target for FUZZ_SECONDS; prints the executions per target and the total time.
fuzz: fuzz-build
	scripts/run_fuzzers.sh $(FUZZ_SECONDS)

# Unit and end-to-end tests under ASan and UBSan (build/asan), the concurrency tests under
# ThreadSanitizer (build/tsan). Fails on any sanitizer report, also one from a child receiver.
sanitize:
	scripts/install_packages.sh build e2e
	cmake --preset asan
	cmake --build --preset asan
	cmake --preset tsan
	cmake --build --preset tsan
	scripts/run_sanitized_tests.sh

# npm packages for the JavaScript tests, and Debian's chromium, ffmpeg and zint.
web-setup:
	scripts/setup_web_tests.sh

# The receiver against nginx: requests per second, scan latency, start time.
bench:
	scripts/run_benchmarks.sh

# The phone app: consensus + HUD cost per frame and the decode loop's frame rate.
bench-web: linux web-setup
	node bench/web/web_bench.mjs

packages-build:
	scripts/install_packages.sh build
