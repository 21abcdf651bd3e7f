#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test: a release build (all tests, the
# slow ones included), a build with AddressSanitizer and UndefinedBehaviorSanitizer, and the
# fuzz targets (clang's libFuzzer) for a bounded time each.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
fuzz_seconds=${HALVEX_FUZZ_SECONDS:-10}
# Precompiled headers shorten builds from scratch; HALVEX_PCH=OFF where a compiler cache works.
pch=${HALVEX_PCH:-ON}

./scripts/setup.sh

echo "== release build and tests" >&2
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALVEX_PCH="$pch" >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 900

echo "== Debian package" >&2
rm -f build/halvex_*.deb
(cd build && cpack -G DEB >/dev/null)
dpkg-deb -c build/halvex_*.deb >&2
if command -v lintian >/dev/null; then
  # Warnings fail too; the few the package accepts are overridden inside it, with the reason.
  lintian --fail-on error,warning build/halvex_*.deb >&2
fi

echo "== sanitizer build and tests (ASan + UBSan)" >&2
# Line tables are all a sanitizer report needs, and cost less to build than full debug data.
# The benchmarks are built (and so checked) by the release build alone.
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DHALVEX_SANITIZE=ON \
  -DHALVEX_BENCH=OFF -DHALVEX_PCH="$pch" >/dev/null
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs" --timeout 900 -LE slow

echo "== fuzz targets (${fuzz_seconds}s each)" >&2
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DHALVEX_FUZZ=ON >/dev/null
cmake --build build-fuzz -j"$jobs"
shopt -s nullglob
for fuzzer in build-fuzz/bin/fuzz_*; do
  name=$(basename "$fuzzer")
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="tests/fuzz/seeds/${name#fuzz_}"
  [ -d "$seeds" ] || seeds=""
  log="build-fuzz/$name.log"
  echo "-- $name" >&2
  if ! "$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="build-fuzz/$name-" "$corpus" $seeds >"$log" 2>&1; then
    cat "$log" >&2
    echo "$name failed (log above)" >&2
    exit 1
  fi
  tail -n 1 "$log" >&2
done
echo "== all tests passed" >&2
