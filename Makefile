# Entry points for a fresh Debian 12 machine (run as root):
#   make run    install what is needed, build, start nodalis on the demo base folder
#   make test   install, build, run every test, then the sanitizer build of the unit tests
.PHONY: deps build run test test-asan bench clean

JOBS ?= $(shell nproc)

deps:
	scripts/install-deps

build: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)

run: build
	build/bin/nodalis --base build/demo $(ARGS)

test: build
	ctest --preset dev -j $(JOBS)
	$(MAKE) test-asan

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

bench: build
	for b in build/bin/bench_*; do echo "== $$b"; $$b || exit 1; done

clean:
	rm -rf build build-asan build-release
