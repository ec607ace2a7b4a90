#!/usr/bin/env bash
# Where there is no display, records a demo instead of opening a window: the drum machine plays
# under Xvfb into a PulseAudio null sink, and a WAV file of its sound and screenshots of the
# playing grid are written to a folder named on standard output.
#   scripts/demo.sh [PROGRAM [OUTPUT_FOLDER]]    PROGRAM defaults to build/pocketdrum
set -euo pipefail
program=$(realpath "${1:-build/pocketdrum}")
out=()
if [ $# -ge 2 ]; then
  out=("$(realpath -m "$2")")
fi
cd "$(dirname "$0")/.."
exec python3 tools/demo.py "$program" "${out[@]}"
