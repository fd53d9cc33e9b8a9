# SPDX-License-Identifier: MIT
# make run      installs what building and running need, builds, starts Ticklark 2
# make test     adds the test tools, builds everything, runs the whole suite
# make test-fast  the same without the tests labelled slow, in under a minute
# make package  writes build/ticklark2_<version>-1_<arch>.deb
.PHONY: run test test-fast build build-program configure deps test-deps package-deps package clean

deps:
	@scripts/install-deps

test-deps:
	@scripts/install-deps test

package-deps:
	@scripts/install-deps package

configure:
	@cmake --preset default >/dev/null

build-program: deps configure
	@cmake --build --preset default --target ticklark2 ticklark-endpoint

run: build-program
	@scripts/run-program

build: test-deps configure
	@cmake --build --preset default

test: build
	@scripts/with-test-display ctest --preset default

test-fast: build
	@scripts/with-test-display ctest --preset default -LE slow

package: package-deps build-program
	@cd build && cpack -G DEB

clean:
	rm -rf build build-sanitize
