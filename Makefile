# Thin wrapper around CMake presets; every target works from a fresh clone.
# `make demo` and `make test` are the README's two set-up commands.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60

.PHONY: all demo test test-windows sanitize tsan bench fuzz install-test deps deps-windows deps-fuzz clean

all: test

# Packages a fresh Debian machine of this kind lacks for the native build.
deps:
	@scripts/ensure-packages cmake ninja-build g++ libgtest-dev googletest

demo: deps
	cmake --preset native
	cmake --build --preset native -j $(JOBS) --target kelcore_demo
	./build/native/examples/kelcore_demo

test: deps
	cmake --preset native
	cmake --build --preset native -j $(JOBS)
	ctest --preset native -j $(JOBS)

clean:
	rm -rf build
