# Entry points for a fresh Debian 12 machine (run as root):
#   make run      install what is needed, build the server, start it on the demo base folder
#   make test     install, build, run every test, then the sanitizer build of the unit tests
#   make package  a .deb (build-release/) with the service unit and its user
.PHONY: deps build run test test-asan bench format format-check package fuzz clean

JOBS ?= $(shell nproc)

deps:
	scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)

# The demo machine is nodalis-sim on a pseudo-terminal: every 20 s it sends
# a program back, as a machine uploading its work would.
run: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS) --target nodalis nodalisctl nodalis-sim
	build/bin/nodalis-sim --link build/demo/machine.tty --record build/demo/machine-record.txt \
	    --loop 'wait 20000;chunk 64;pace 20;send build/demo/O1000.nc' & sim=$$!; \
	    trap "kill $$sim 2>/dev/null" EXIT INT TERM; sleep 0.3; \
	    build/bin/nodalis --base build/demo $(ARGS)

test: build format-check
	ctest --preset dev -j $(JOBS)
	$(MAKE) test-asan

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# Release build, then one table: each figure measured from outside against
# an outside program doing the same job (bench/run.py; NODALIS_BENCH_PAIRS).
bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target nodalis nodalisctl nodalis-sim nodalis-push nodalis-tnccmd \
	  bench_program_text bench_store bench_network bench_lsv2 bench_mazatrol bench_focas bench_tnc bench_explorer
	bench/run.py

# Layout is .clang-format's: `make format` rewrites the tree, the check fails
# on any file that differs.
CXX_SOURCES = $(shell find src tests tools bench fuzz -name '*.cpp' -o -name '*.h')

format: deps
	@clang-format -i $(CXX_SOURCES)

format-check: deps
	@clang-format --dry-run --Werror $(CXX_SOURCES) && echo "format-check: every file follows .clang-format"

# Release build of what the package installs, then the .deb.
package: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target nodalis nodalisctl nodalis-sim
	cd build-release && cpack -G DEB

# libFuzzer targets of fuzz/ in build-fuzz/ (clang, address and undefined-
# behaviour sanitizers), each run briefly over its seed inputs; what a run
# finds goes under build-fuzz/, never into fuzz/corpus/.
FUZZ_RUNS ?= 20000

fuzz:
	scripts/install-deps fuzz
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DNODALIS_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	for f in build-fuzz/fuzz/fuzz_*; do [ -f $$f ] && [ -x $$f ] || continue; t=$${f##*/}; \
	    echo "== $$t"; mkdir -p build-fuzz/corpus/$$t build-fuzz/artifacts; \
	    $$f -runs=$(FUZZ_RUNS) -artifact_prefix=build-fuzz/artifacts/$$t- \
	        build-fuzz/corpus/$$t fuzz/corpus/$$t || exit 1; \
	done

clean:
	rm -rf build build-asan build-release
