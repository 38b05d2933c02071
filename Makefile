# The two commands of the project: `make demo` runs the main job, `make test`
# builds everything and runs the whole test suite. Both install what is
# missing from Debian's archive first.

.PHONY: all deps build demo test test-sanitize bench clean

all: build

deps:
	./tools/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default

demo: build
	./build/bin/fcs-host demo --out build/demo

test: build
	ctest --preset default

test-sanitize: deps
	cmake --preset sanitize
	cmake --build --preset sanitize
	ctest --preset sanitize

bench: build
	./build/bench/fcs_bench

clean:
	rm -rf build build-sanitize
