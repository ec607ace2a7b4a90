#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once plainly, once under the
# address and undefined-behaviour sanitizers; then, built with clang, each fuzz target for 20 s.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh test

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON >/dev/null
cmake --build build -j"$(nproc)"
(cd build && ctest --output-on-failure)

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON -DBUILD_TESTING=ON \
  -DBUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-sanitize -j"$(nproc)"
(cd build-sanitize && ctest --output-on-failure)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFUZZ=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)"
(cd build-fuzz && ctest --output-on-failure)
