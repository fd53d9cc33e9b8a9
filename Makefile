# SPDX-License-Identifier: MIT
# make run   installs what is missing, builds, starts Ticklark 2 on its default endpoint
# make test  the same set-up, then the whole suite under a virtual display
.PHONY: run test build configure deps clean

deps:
	@scripts/install-deps

configure: deps
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

run: build
	@scripts/run-program

test: build
	@scripts/with-test-display ctest --preset default

clean:
	rm -rf build build-sanitize
