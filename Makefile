# Thin layer over the CMake presets. `make demo` and `make test` are all a user needs.
PRESETS := release i686 asan i686-asan win32 win64
# make test runs the release, i686, asan and win64 presets whole, and of win32
# the host's product, its DLL, with its PE headers checked. make test-all also
# runs i686-asan (the 32-bit AddressSanitizer build, its tests under qemu), the
# whole win32 preset (its tests run under Wine's 32-bit half, where the kernel
# runs 32-bit programs) and the tool's threads under ThreadSanitizer (tsan):
# about 10 minutes more on a 2-core machine.
TEST_PRESETS := release i686 asan win64
JOBS    ?= $(shell nproc)

.PHONY: all bootstrap build test test-all test-win32-dll demo install package clean fuzz tsan $(addprefix build-,$(PRESETS)) $(addprefix test-,$(PRESETS))

all: build-release

bootstrap:
	@bash scripts/bootstrap.sh

# Every test, whatever configured the build folder before (`make demo` before
# GoogleTest was there leaves RVO_TESTS=OFF in the cache): the tests are
# switched on, and a test that could not be built (a missing GoogleTest,
# pybind11, pytest, ...) stops the configure rather than dropping out of the run.
TEST_CONFIG := -DRVO_TESTS=ON -DRVO_ALL_TESTS=ON

# Static pattern rules: make skips implicit-rule search for phony targets, so a
# plain `build-%:` pattern would never run for them.
$(addprefix build-,$(PRESETS)): build-%: bootstrap
	cmake --preset $* $(TEST_CONFIG) >/dev/null
	cmake --build --preset $* -j $(JOBS)

$(addprefix test-,$(PRESETS)): test-%: build-%
	ctest --preset $* --no-tests=error

# The Windows tests compare the DLL's files with those of the release build's rvo
# tool; the 32-bit host reads a file that only that tool writes.
test-win32 test-win64 test-i686 test-i686-asan: build-release

build: $(addprefix build-,$(PRESETS))

# Two presets at a time, so that one's tests (Wine, qemu, the tool's scripts)
# run while the other compiles; each preset's output is printed whole.
test:
	$(MAKE) --no-print-directory -j 2 --output-sync=target $(addprefix test-,$(TEST_PRESETS)) test-win32-dll

test-win32-dll: bootstrap
	cmake --preset win32 $(TEST_CONFIG) >/dev/null
	cmake --build --preset win32 -j $(JOBS) --target rvoplugin
	ctest --preset win32 --no-tests=error -R '^pe_headers$$'

test-all:
	$(MAKE) --no-print-directory -j 2 --output-sync=target $(addprefix test-,$(PRESETS)) tsan

# Only what the demo needs: its packages (no cross-compilers, Wine, qemu or
# sanitizer runtimes) and the rvo tool, not the tests and benchmarks.
demo:
	@bash scripts/bootstrap.sh demo
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target rvo_cli
	@bash scripts/demo.sh build

# The release build installed under PREFIX (bin/rvo, lib/rvo/rvoplugin.so, the
# man page, share/doc/rvo/); DESTDIR is honoured for staging.
PREFIX ?= /usr/local
install: build-release
	DESTDIR=$(DESTDIR) cmake --install build --prefix $(PREFIX)

# build/rvo_VERSION_ARCH.deb from the release build, and
# build/rvoplugin-VERSION-windows.zip from the win32 and win64 DLLs.
package: build-release build-win32 build-win64
	cd build && cpack --config CPackConfig.cmake
	cd build && cpack --config CPackWindowsConfig.cmake

# The tool's threads under ThreadSanitizer: the tool, and the tests that run it
# with 1, 2 and 7 threads (build-tsan/).
tsan: bootstrap
	cmake --preset tsan >/dev/null
	cmake --build --preset tsan -j $(JOBS) --target rvo_cli test_cli
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1 RVO_BUILD_DIR=$$PWD ./tools/test_cli --gtest_filter='Threads.*'

# libFuzzer programs (clang) in build-fuzz/, each target run for FUZZ_TIME seconds.
FUZZ_TIME ?= 60
fuzz: bootstrap
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS) --target fuzz_all
	bash fuzz/run.sh build-fuzz $(FUZZ_TIME)

clean:
	rm -rf build build-i686 build-asan build-i686-asan build-win32 build-win64 build-fuzz build-tsan
