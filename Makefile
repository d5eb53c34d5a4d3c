# Front door to CMake. `make test` is what CI runs; `make run` starts the server on the bundled world.
.PHONY: setup build test test-default test-asan run clean fuzz

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

# The server on a copy of the bundled world; the copy is made once, so accounts survive restarts.
run: setup
	cmake --preset default
	cmake --build --preset default --target kserver -j $(JOBS)
	@[ -d build/world ] || cp -r data/world build/world
	build/bin/kserver --headless --dir build/world --port 14901

clean:
	rm -rf build build-asan

# Runs every libFuzzer target for FUZZ_SECONDS each (clang build in build-fuzz/).
FUZZ_SECONDS ?= 60
fuzz: setup
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	for f in build-fuzz/bin/fuzz_*; do \
	  mkdir -p build-fuzz/corpus/$$(basename $$f); \
	  $$f -max_total_time=$(FUZZ_SECONDS) -max_len=70000 build-fuzz/corpus/$$(basename $$f) || exit 1; \
	done
