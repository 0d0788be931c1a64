# Every target installs what it needs on a fresh Debian 12 machine, configures and builds.
LINUX_BUILD := build/linux
CMAKE_BUILD_FLAGS ?=

.PHONY: run test check bench linux packages-build packages-test

run: linux
	$(LINUX_BUILD)/quillmark-receiver --headless

test: linux packages-test
	ctest --test-dir $(LINUX_BUILD) --output-on-failure --timeout 600

check: linux
	ctest --test-dir $(LINUX_BUILD) --output-on-failure -L unit

linux: packages-build
	cmake --preset linux
	cmake --build --preset linux $(CMAKE_BUILD_FLAGS)

packages-build:
	scripts/install_packages.sh build

packages-test:
	scripts/install_packages.sh e2e
