#!/usr/bin/env bash
# Installs what is missing, builds, and starts the drum machine, with any arguments given, from
# the folder that holds assets/. Without a display it records a demo instead.
set -euo pipefail
cd "$(dirname "$0")"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  scripts/deps.sh demo
else
  scripts/deps.sh run
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target pocketdrum
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec scripts/demo.sh build/pocketdrum
fi
exec build/pocketdrum "$@"
