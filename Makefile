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

# A test that fails is run once more before it counts as failed: a shared
# virtual display under two parallel jobs now and then drops a connection.
test: build
	@scripts/with-test-display ctest --preset default --repeat until-pass:2

clean:
	rm -rf build build-sanitize
