# Every target sets up what it needs on a Debian 12 machine: missing packages, configuration, build.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all setup configure build run test bench clean

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
