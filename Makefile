# Front door to CMake. `make test` is what CI runs; `make run` starts the server on the bundled world.
.PHONY: setup build test test-default test-asan run clean

JOBS ?= 2

setup:
	scripts/setup.sh

build: setup
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

test-default: build
	ctest --preset default

test-asan: setup
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

test: test-default test-asan

clean:
	rm -rf build build-asan
