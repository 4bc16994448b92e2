# make demo  builds every target and shows the add-in at work in a test host
# make test  builds every target and runs every test
SHELL := /bin/bash
PRESETS := win32 win64 native
BUILD = cmake --preset $(1) >/dev/null && cmake --build --preset $(1) -j2 -- --no-print-directory

.PHONY: all deps build test demo bench clean

all: build

deps:
	@tools/install-deps

build: deps
	@for p in $(PRESETS); do $(call BUILD,$$p) || exit 1; done

test: build
	ctest --preset native -j2
	@cmake --preset tsan >/dev/null && cmake --build --preset tsan -j2 --target addin_tests -- --no-print-directory
	ctest --preset tsan -R '^Threads\.'
	tools/wine/e2e --no-build
	@$(call BUILD,fuzz)
	tools/fuzz 30

demo: build
	@tools/wine/demo

# Benchmarks: not part of make test. Prints each figure beside its reference
# from the same run, then the file throughput and memory figures.
bench: deps
	@cmake --preset bench >/dev/null && cmake --build --preset bench -j2 --target kestrova_bench -- --no-print-directory
	build/bench/bench/kestrova_bench

clean:
	rm -rf build
