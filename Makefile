# Every target installs what it needs on a fresh Debian 12 machine, configures and builds.
LINUX_BUILD := build/linux

.PHONY: run test check bench bench-web linux windows web-setup packages-build

run: linux
	$(LINUX_BUILD)/quillmark-receiver --headless

# The whole suite: unit, end-to-end, browser (web) and Windows-under-Wine (wine) tests.
test: linux windows web-setup
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
