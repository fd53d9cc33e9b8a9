# SPDX-License-Identifier: MIT
# make run      installs what building and running need, builds, starts Ticklark 2
# make test     adds the test tools, builds everything, runs the whole suite
# make test-fast  the same without the tests labelled slow, in under a minute
# make package  writes build/ticklark2_<version>-1~deb<N>_<arch>.deb
# make test-debian13  the whole suite again in a Debian 13 root (as root)
.PHONY: run test test-fast test-debian13 build build-program configure deps test-deps package-deps package clean

deps:
	@scripts/install-deps

test-deps:
	@scripts/install-deps test

package-deps:
	@scripts/install-deps package

configure:
	@cmake --preset default >/dev/null

# `make test` builds with warnings as errors, as continuous integration does.
# `make run` keeps whatever the build folder was configured with, so going
# from one to the other rebuilds nothing; should a compiler newer than ours
# warn where ours does not, it builds once more with warnings as warnings
# rather than not start.
program = ticklark2 ticklark-endpoint
build-program: deps configure
	@cmake --build --preset default --target $(program) || \
	  { grep -q '^TICKLARK_WARNINGS_AS_ERRORS:BOOL=ON$$' build/CMakeCache.txt && \
	    echo 'Building again with warnings not treated as errors' && \
	    cmake --preset default -DTICKLARK_WARNINGS_AS_ERRORS=OFF >/dev/null && \
	    cmake --build --preset default --target $(program); }

run: build-program
	@scripts/run-program

build: test-deps
	@cmake --preset default -DTICKLARK_WARNINGS_AS_ERRORS=ON >/dev/null
	@cmake --build --preset default

test: build
	@scripts/with-test-display ctest --preset default

test-fast: build
	@scripts/with-test-display ctest --preset default -LE slow

test-debian13:
	@scripts/test-on-debian 13 test

package: package-deps build-program
	@cd build && cpack -G DEB

clean:
	rm -rf build build-sanitize
