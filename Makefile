# The two commands of the project: `make demo` runs the main job, `make test`
# builds everything and runs the whole test suite. Both install what is
# missing from Debian's archive first. `make windows` builds the Windows DLLs
# and checks them (see README).

.PHONY: all deps build demo test test-sanitize bench windows clean

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

# The 32-bit DLLs, read and compared with the hosts' tables; then the 64-bit
# DLLs and the whole test suite, run under Wine.
windows:
	./tools/install-deps.sh windows
	cmake --preset windows-x86
	cmake --build --preset windows-x86
	/usr/bin/python3 tests/windows/check_dlls.py --machine i386 build-windows-x86/lib
	cmake --preset windows-x64
	cmake --build --preset windows-x64
	./tests/windows/wine_session.sh build-windows-x64 ctest --preset windows-x64

clean:
	rm -rf build build-sanitize build-windows-x86 build-windows-x64
