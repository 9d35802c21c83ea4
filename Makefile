# Every target sets up what it needs on a Debian 12 machine: missing packages, configuration, build.
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: all setup configure build run test bench clean install package package-check

all: build

setup:
	@scripts/install-deps.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS) -- --no-print-directory

run: build
	$(BUILD)/mailsender

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# Release build of bench/ in its own folder, measured beside its peers.
bench:
	@BENCH_BUILD=build-bench bench/run.sh

clean:
	rm -rf $(BUILD) build-bench

# Installing and packaging need only the program, not the tests.
install: configure
	@cmake --build $(BUILD) -j $(JOBS) --target mailsender -- --no-print-directory
	cmake --install $(BUILD) --prefix $(PREFIX)

package: configure
	@cmake --build $(BUILD) -j $(JOBS) --target mailsender -- --no-print-directory
	cd $(BUILD) && cpack -G DEB

# As root: installs the package with apt-get, starts it on a virtual display, removes it.
package-check: package
	packaging/package_check.sh $(BUILD)
