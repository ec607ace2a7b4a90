#!/usr/bin/env bash
# Installs what is missing, builds, and starts the drum machine as the desktop's menu entry does
# (--sample-exact --resume), with any arguments given, from the folder that holds assets/.
# Without a display it records a demo instead.
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
# As the desktop's menu entry starts it: every hit on its frame, and the beat kept (in FILE when
# one is given). An export, --help and --version take neither option, so they pass unchanged.
exact=--sample-exact resume=--resume
for arg in "$@"; do
  case "$arg" in
  --export | --help | --version) exact="" resume="" ;;
  --sample-exact) exact="" ;;
  --resume) resume="" ;;
  esac
done
exec build/pocketdrum $exact $resume "$@"
