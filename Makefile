# make demo  builds every target and shows the add-in's digests working
# make test  builds every target and runs every test
SHELL := /bin/bash
PRESETS := win32 win64 native

.PHONY: all deps build test demo clean

all: build

deps:
	@tools/install-deps

build: deps
	@for p in $(PRESETS); do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p -j2 || exit 1; \
	done

test: build
	ctest --preset native -j2
	cmake --preset tsan >/dev/null && cmake --build --preset tsan -j2 --target addin_tests
	ctest --preset tsan -R '^Threads\.'

demo: build
	@printf '%s\n' "The digests of the hashing pipelines; compare with md5sum:"
	@printf 'abc' > build/demo-abc.txt
	@build/native/spine_demo build/demo-abc.txt
	@printf '%-34s %s\n' "md5sum of the file 'abc'" "$$(md5sum < build/demo-abc.txt | cut -d' ' -f1)"

clean:
	rm -rf build
