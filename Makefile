# Every target sets up what it needs on a Debian 12 machine: missing packages, configuration, build.
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: all setup configure build run test bench clean install package package-check windows-setup windows-configure windows test-windows

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

# The native Windows program, cross-built with mingw-w64, and its tests under Wine.
WINDOWS_BUILD ?= build-windows
WINDOWS_PACKAGES := cmake make g++-mingw-w64-x86-64-posix googletest locales \
  wine wine64 xvfb xdotool x11-xserver-utils fonts-wqy-microhei python3 python3-aiosmtpd

windows-setup:
	@scripts/install-deps.sh $(WINDOWS_PACKAGES)

windows-configure: windows-setup
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release >/dev/null

windows: windows-configure
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target mailsender -- --no-print-directory
	@echo "Built $(WINDOWS_BUILD)/mailsender.exe"

test-windows: windows
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS) -- --no-print-directory
	cd $(WINDOWS_BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD) build-bench

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
