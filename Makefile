# Quorbit: convenience wrapper around CMake and CTest.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
WIN_BUILD  ?= build-windows
# Seconds each fuzz target runs in `make fuzz`.
FUZZ_SECONDS ?= 60
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc)
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
# CI builds treat warnings as errors; other builds say so too, so that a
# directory configured by CI loses the setting again.
ifdef CI
WERROR := -DQUORBIT_WERROR=ON
else
WERROR := -DQUORBIT_WERROR=OFF
endif

# Configures build directory $(1) with the command $(2) ("cmake" with its
# options, perhaps after variables for it), and again whenever that command
# differs from the one the directory was last configured with (kept in
# $(1)/configured-with), so that a change of options is never ignored.
define configure_build
	@command='$(strip $(2))'; \
	if [ ! -f $(1)/CMakeCache.txt ] || [ "$$(cat $(1)/configured-with 2>/dev/null)" != "$$command" ]; then \
	  eval "$$command" && printf '%s\n' "$$command" >$(1)/configured-with; \
	fi
endef

.PHONY: all deps build configure check test test-fast test-asan test-tsan lint format fuzz windows windows-configure test-windows windows-package screenshot-windows demo screenshot bench install package clean

all: build

deps:
	@scripts/install-deps

configure:
	$(call configure_build,$(BUILD),cmake -S . -B $(BUILD) $(GENERATOR) $(WERROR) -DCMAKE_INSTALL_PREFIX=$(PREFIX))

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite, the lint checks, then the suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded cases under ThreadSanitizer, then every
# fuzz target for a few seconds so that none of them rots, then the Windows build.
test: deps
	$(MAKE) test-fast
	$(MAKE) lint
	$(MAKE) test-asan
	$(MAKE) test-tsan
	$(MAKE) fuzz FUZZ_SECONDS=3
	$(MAKE) test-windows

test-fast: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The cases that need no server, no child program and no display: seconds.
check: build
	ctest --test-dir $(BUILD) --output-on-failure -L unit -j $(JOBS)

test-asan:
	$(call configure_build,$(ASAN_BUILD),cmake -S . -B $(ASAN_BUILD) $(GENERATOR) $(WERROR) \
	  -DCMAKE_BUILD_TYPE=Debug -DQUORBIT_SANITIZE=ON -DQUORBIT_WITH_FLTK=OFF)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The cases that run more than one thread (ctest label threads) under
# ThreadSanitizer; only the test programs that hold them are built.
test-tsan:
	$(call configure_build,$(TSAN_BUILD),cmake -S . -B $(TSAN_BUILD) $(GENERATOR) $(WERROR) \
	  -DCMAKE_BUILD_TYPE=Debug -DQUORBIT_TSAN=ON -DQUORBIT_WITH_FLTK=OFF)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target threaded_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -L threads -j $(JOBS)

# Layout (.clang-format) over every C++ file, and clang-tidy (.clang-tidy) over the
# program's sources with the build's compile commands.
lint: configure
	BUILD=$(BUILD) JOBS=$(JOBS) scripts/lint

# Lays out every C++ file as lint expects.
format:
	find src tests fuzz \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 clang-format-14 -i

# The parsers of untrusted input under libFuzzer (clang++), each for FUZZ_SECONDS.
fuzz:
	$(call configure_build,$(FUZZ_BUILD),CXX=clang++ cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) \
	  $(WERROR) -DQUORBIT_FUZZ=ON -DQUORBIT_TESTS=OFF -DQUORBIT_WITH_FLTK=OFF)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	FUZZ_BUILD=$(FUZZ_BUILD) FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/fuzz

# The Windows program, cross-built with mingw-w64: $(WIN_BUILD)/quorbit.exe.
windows-configure:
	$(call configure_build,$(WIN_BUILD),cmake -S . -B $(WIN_BUILD) $(GENERATOR) $(WERROR) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release)

windows: windows-configure
	cmake --build $(WIN_BUILD) -j $(JOBS) --target quorbit

# The unit tests cross-built for Windows and run under wine, in a wine prefix
# of their own inside the build tree; then quorbit.exe under wine against
# nginx and pyftpdlib on 127.0.0.1. The Linux TLS test also drives the
# Windows TLS probe against its nginx peers.
test-windows: windows-configure configure
	cmake --build $(WIN_BUILD) -j $(JOBS)
	cmake --build $(BUILD) -j $(JOBS) --target test_net
	WIN_BUILD=$(WIN_BUILD) BUILD=$(BUILD) JOBS=$(JOBS) scripts/test-windows
	WIN_BUILD=$(WIN_BUILD) scripts/e2e-windows

# The Windows downloads: build-windows/quorbit-<version>-win64.zip (program,
# README.txt, example INI files) and the NSIS installer beside it.
windows-package: windows
	cmake --build $(WIN_BUILD) --target windows-package

# A PNG of the Windows program's window in the middle of a run, under wine and Xvfb.
screenshot-windows: windows
	QUORBIT=$(WIN_BUILD)/quorbit.exe scripts/screenshot-windows

demo: deps build
	scripts/demo

screenshot: deps build
	scripts/screenshot

bench: deps build
	scripts/bench

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD)
