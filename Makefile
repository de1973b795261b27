# Thin wrapper around the CMake presets (CMakePresets.json); every target
# works from a fresh clone and first installs the Debian packages it needs
# (scripts/ensure-packages). `make demo` and `make test` are the README's two
# set-up commands. docs/building.md describes each target.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60
BENCH_ARGS ?=

PACKAGES_NATIVE  := cmake ninja-build g++ libgtest-dev googletest pkg-config
PACKAGES_WINDOWS := cmake ninja-build g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 googletest
PACKAGES_FUZZ    := cmake ninja-build clang libclang-rt-dev
PACKAGES_BENCH   := cmake ninja-build g++ libbenchmark-dev libinih-dev pkg-config python3
PACKAGES_DEB     := build-essential debhelper dpkg-dev lintian cmake ninja-build g++ pkg-config
PACKAGES_DOCS    := doxygen

WINEPREFIX_DIR := build/windows/wineprefix

# When ccache is installed, every preset compiles through it: rebuilds after a
# branch switch, and builds of several work trees of one clone, share objects.
# It takes effect when a build folder is first configured.
CCACHE := $(shell command -v ccache 2>/dev/null)
ifneq ($(CCACHE),)
export CMAKE_C_COMPILER_LAUNCHER ?= $(CCACHE)
export CMAKE_CXX_COMPILER_LAUNCHER ?= $(CCACHE)
endif

.PHONY: all demo test test-windows sanitize asan tsan fuzz bench bench-build install-test \
        deb deb-test docs deps deps-windows deps-fuzz deps-bench deps-deb deps-docs clean

all: test

deps:
	@scripts/ensure-packages $(PACKAGES_NATIVE)
deps-windows:
	@scripts/ensure-packages $(PACKAGES_WINDOWS)
deps-fuzz:
	@scripts/ensure-packages $(PACKAGES_FUZZ)
deps-bench:
	@scripts/ensure-packages $(PACKAGES_BENCH)
deps-deb:
	@scripts/ensure-packages $(PACKAGES_DEB)
deps-docs:
	@scripts/ensure-packages $(PACKAGES_DOCS)

# The example console program twice: a report with its log on standard
# output, then a missing file, which shows the catalogued error and must
# exit with status 1. Then the tour of the lower layers, with the library's
# English texts (kelcore_messages compiles them).
FILEREPORT := ./build/native/examples/filereport/filereport
demo: deps
	cmake --preset native
	cmake --build --preset native -j $(JOBS) --target filereport kelcore_demo kelcore_messages
	@echo '$$ TRACELEVEL=17 LOGFILE='"'"'$$stdout'"'"' filereport README.md Makefile'
	@TRACELEVEL=17 LOGFILE='$$stdout' $(FILEREPORT) README.md Makefile
	@echo; echo '$$ filereport no-such-file.txt'
	@status=0; $(FILEREPORT) no-such-file.txt || status=$$?; \
	  echo "(exit status $$status)"; test $$status -eq 1
	@cmake --build --preset native -j $(JOBS) --target kelini >/dev/null
	@echo; scripts/kelini-demo ./build/native/tools/kelini/kelini build/native/kelini-demo.ini
	@echo
	./build/native/examples/kelcore_demo build/native/share/kelcore/kelcore.cat

test: deps
	cmake --preset native
	cmake --build --preset native -j $(JOBS)
	ctest --preset native -j $(JOBS)

# Cross-builds for Windows and runs the whole suite under Wine. The test
# programs link the static library; kelcore.dll is built as well and the
# consumer program runs against it. The Wine server is stopped at the end,
# pass or fail, so that nothing outlives the run. Then the 32-bit build:
# library, tests and examples are compiled and linked, and only the DLL's
# export table is checked, because no 32-bit Windows loader (Wine's i386
# part) can be installed on the development and CI machines.
test-windows: deps-windows
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)
	scripts/wine-run $(WINEPREFIX_DIR) --init
	ctest --preset windows -j $(JOBS); status=$$?; \
	  scripts/wine-run $(WINEPREFIX_DIR) --shutdown; exit $$status
	@echo "windows-i686: compile and link only (no 32-bit Windows loader on this machine)"
	cmake --preset windows-i686
	cmake --build --preset windows-i686 -j $(JOBS)
	ctest --preset windows-i686

sanitize: asan tsan

asan: deps
	cmake --preset asan-ubsan
	cmake --build --preset asan-ubsan -j $(JOBS)
	ctest --preset asan-ubsan -j $(JOBS)

# Only the concurrency test programs (tests/CMakeLists.txt names them).
tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

fuzz: deps-fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/run-fuzz build/fuzz $(FUZZ_SECONDS)

# Runs every benchmark, then rewrites the ratio table of docs/performance.md
# from the results.
bench: bench-build
	scripts/run-bench build/bench $(BENCH_ARGS)
	scripts/bench-ratios build/bench/bench-results docs/performance.md

# Builds the benchmarks without running them (CI keeps them compiling).
bench-build: deps-bench
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)

install-test: deps
	cmake --preset native
	cmake --build --preset native -j $(JOBS)
	scripts/install-test build/native

# The Debian binary packages, checked with lintian, in build/deb
# (scripts/build-deb; docs/building.md).
deb: deps-deb
	JOBS=$(JOBS) scripts/build-deb build/deb

# Installs those packages, builds and runs the consumer against /usr, runs
# the tools, and removes the packages again (scripts/deb-test).
deb-test: deb
	scripts/deb-test build/deb

# The HTML reference of the public headers in build/docs/html; any Doxygen
# warning (an undocumented public member, say) fails it.
docs: deps-docs
	scripts/build-docs build/docs

clean:
	@if [ -d $(WINEPREFIX_DIR) ]; then scripts/wine-run $(WINEPREFIX_DIR) --shutdown; fi
	rm -rf build
