# Every target sets up what it needs on a Debian 12 machine: missing packages, configuration, build.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
# Seconds each fuzz target runs: `make fuzz` about a minute, `make test` a few.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = $(notdir $(basename $(wildcard fuzz/*_fuzz.cpp)))

# Leaks count as failures; the only suppressions are for code that is not ours.
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0

.PHONY: all setup configure build run test test-sanitize fuzz soak bench clean install package package-check \
	windows-setup windows-configure windows test-windows

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
	@$(MAKE) --no-print-directory test-sanitize
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=5

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
# One case is left out: its 20 MB body through Qt's text document (where every
# buffer growth is a copy under ASan) takes longer than the scripted server
# waits for the client's next line.
test-sanitize: setup
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMAILSENDER_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS) -- --no-print-directory
	cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) QT_QPA_PLATFORM=offscreen \
		ctest --output-on-failure -j $(JOBS) -E HugeSubjectBodyAndRecipientList

# Each parser's fuzz target for FUZZ_SECONDS, from the committed seeds; what it
# finds new goes to $(FUZZ_BUILD)/corpus, the seeds stay as committed.
fuzz: setup
	@CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DMAILSENDER_FUZZ=ON -DMAILSENDER_SANITIZE=ON -DMAILSENDER_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_targets -- --no-print-directory
	@set -e; for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
		echo "fuzz $$t: $(FUZZ_SECONDS) s"; \
		$(SANITIZE_ENV) $(FUZZ_BUILD)/fuzz/$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/$$t- $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t 2>$(FUZZ_BUILD)/$$t.log \
			|| { tail -60 $(FUZZ_BUILD)/$$t.log; exit 1; }; \
		grep -E 'stat::number_of_executed_units|stat::new_units_added' $(FUZZ_BUILD)/$$t.log; \
	done

# 5,000 sends over one session to a local sink, the client's memory printed
# along the way; run by hand, not part of the tests.
soak: configure
	@cmake --build $(BUILD) -j $(JOBS) --target mailsender_soak -- --no-print-directory
	$(BUILD)/soak/mailsender_soak 5000

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
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) $(WINDOWS_BUILD) build-bench

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
