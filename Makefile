# Front door to CMake. `make test` is what CI runs; `make run` starts the server on the bundled world.
.PHONY: setup build test test-default test-asan run play clean fuzz package format-check lint

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

test: format-check test-default test-asan

# Fails when a C++ file differs from what clang-format (.clang-format) makes of it.
FORMAT_DIRS = base protocol net engine server client tools tests bench fuzz
format-check: setup
	find $(FORMAT_DIRS) \( -name '*.cpp' -o -name '*.h' \) -print0 | \
	  xargs -0 clang-format --dry-run --Werror

# The format check, then clang-tidy (.clang-tidy: bugprone, performance, naming) over the
# libraries and programs of the default build.
lint: format-check
	cmake --preset default
	run-clang-tidy -p build -j $(JOBS) -quiet \
	  '$(CURDIR)/(base|protocol|net|engine|server|client|tools)/.*\.cpp$$'

# The server on a copy of the bundled world; the copy is made once, so accounts survive restarts.
run: setup
	cmake --preset default
	cmake --build --preset default --target kserver -j $(JOBS)
	@[ -d build/world ] || cp -r data/world build/world
	build/bin/kserver --headless --dir build/world --port 14901 --max-pending-per-address 64 \
	  --max-sessions-per-address 200

# Plays on this machine: the server of `make run` in the background (unless one already listens on
# port 14901) and the game client with its connect dialog filled in; Start enters the world.
play: setup
	cmake --preset default
	cmake --build --preset default --target kserver tarvo3d -j $(JOBS)
	scripts/play.sh

# The Debian packages kserver, kserver-gui and tarvo3d, from the default build's programs, into build/packages/.
package: setup
	cmake --preset default
	cmake --build --preset default --target kserver kserver-gui kserverctl tarvo3d tarvo-bot -j $(JOBS)
	cd build && cpack -G DEB

clean:
	rm -rf build build-asan

# Runs every libFuzzer target for FUZZ_SECONDS each (clang build in build-fuzz/), starting from the
# corpus kept in fuzz/corpus/<target>/, keeps going past a target that fails, and names the failed
# ones at the end; crashing inputs land in build-fuzz/artifacts/<target>/ (copy each one into
# fuzz/corpus/<target>/ with its fix, so the tests replay it from then on).
FUZZ_SECONDS ?= 60
fuzz: setup
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@failed=""; \
	for f in build-fuzz/bin/fuzz_*; do \
	  name=$$(basename $$f); \
	  mkdir -p build-fuzz/corpus/$$name build-fuzz/artifacts/$$name; \
	  echo "== $$name"; \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp $$f -max_total_time=$(FUZZ_SECONDS) \
	    -max_len=70000 -artifact_prefix=build-fuzz/artifacts/$$name/ build-fuzz/corpus/$$name \
	    fuzz/corpus/$$name \
	    || failed="$$failed $$name"; \
	done; \
	if [ -n "$$failed" ]; then \
	  echo "fuzz targets that failed:$$failed"; exit 1; \
	fi; \
	echo "every fuzz target ran $(FUZZ_SECONDS) s without a failure"
