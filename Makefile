# make test: set up, build, run every test.  make demo: set up, build, copy the sample site.
# make windows: set up the mingw-w64 cross compilers and build the 32-bit and 64-bit Harvo.dll
# (build-win32/, build-win64/).  make windows-test: also run the Windows tests (the export
# tables; the 64-bit suites under Wine, in a Wine prefix made for the run and removed after it).
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all setup configure build test demo clean setup-windows windows windows-test

all: build

setup:
	scripts/setup

configure: setup
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DHARVO_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 600

demo: build
	scripts/demo $(BUILD)

WIN_FLAGS = -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DHARVO_WERROR=ON $(CMAKE_FLAGS)

setup-windows:
	scripts/setup --windows

windows: setup-windows
	cmake -S . -B build-win32 $(WIN_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
	cmake --build build-win32 -j $(JOBS)
	cmake -S . -B build-win64 $(WIN_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	  -DHARVO_HOST_CHECK_COPY=$(CURDIR)/$(BUILD)/tests/harvo_check_copy
	cmake --build build-win64 -j $(JOBS)

# The POSIX build's copy checker opens the copies made under Wine in Chromium (when there is a
# POSIX build; else that step is skipped).
windows-test: windows
	if [ -f $(BUILD)/CMakeCache.txt ]; then \
	  cmake --build $(BUILD) --target harvo_check_copy -j $(JOBS); fi
	ctest --test-dir build-win32 --output-on-failure
	scripts/wine-run --end $(CURDIR)/build-win64/wine-prefix
	scripts/wine-run --start $(CURDIR)/build-win64/wine-prefix
	# A test under Wine takes seconds; one that hangs is ended after two minutes. A failed one is
	# run once more: some fail now and then under Wine alone (see README, Windows).
	ctest --test-dir build-win64 --output-on-failure -j $(JOBS) --timeout 120 --repeat until-pass:2; \
	  status=$$?; scripts/wine-run --end $(CURDIR)/build-win64/wine-prefix; exit $$status

clean:
	rm -rf $(BUILD) build-win32 build-win64
