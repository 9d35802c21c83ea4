#!/usr/bin/env bash
# make bench: installs what the benchmark needs, builds bench/ in release mode
# into its own folder and runs every measurement beside its peer.
set -eu
cd "$(dirname "$0")/.."
build=${BENCH_BUILD:-build-bench}
bench/setup.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DMAILSENDER_BUILD_APP=OFF \
  -DMAILSENDER_BUILD_TESTS=OFF -DMAILSENDER_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target bench_encoding bench_session -- --no-print-directory
# Debian's Python: aiosmtpd is one of its packages.
exec /usr/bin/python3 bench/run.py "$build"
