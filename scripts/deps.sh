#!/usr/bin/env bash
# Installs the Debian packages the drum machine needs, only those that are missing.
#   scripts/deps.sh run    what building and running needs
#   scripts/deps.sh test   that, plus what the tests, the demo and the benchmarks need
set -euo pipefail

# The SDL 1.2 libraries are named together so that apt takes sdl12-compat for all of them.
run_packages=(cmake make g++ pkg-config
  libsdl1.2-compat-dev libsdl-image1.2-dev libsdl-mixer1.2-dev libsdl-ttf2.0-dev libx11-dev
  libsndfile1-dev libsamplerate0-dev libjack-jackd2-dev)
# libsdl2-dev: the pad tests attach a virtual game controller in the SDL 2 under the layer
test_packages=(libgtest-dev libbenchmark-dev libsdl2-dev clang-format xvfb xauth xdotool x11-utils
  lintian # the package test has Debian's checker read the .deb
  imagemagick pulseaudio pulseaudio-utils sox strace valgrind python3 util-linux procps
  desktop-file-utils dpkg-dev file python3-mido xdg-utils libfile-mimeinfo-perl
  clang libclang-rt-14-dev # the fuzz targets: clang's libFuzzer and sanitizer runtimes
  jackd2 jack-midi-clock # a JACK server on its dummy driver, and an independent clock reader
  pulseaudio-module-jack python3-jack-client # tools/midi_offset.py: the sound and MIDI on one clock
  mmdebstrap qemu-user-static) # scripts/handheld.sh: the port's roots, its arm64 programs run
demo_packages=(xvfb xauth xdotool x11-utils imagemagick pulseaudio pulseaudio-utils sox python3 procps)

case "${1:-run}" in
run) wanted=("${run_packages[@]}") ;;
demo) wanted=("${run_packages[@]}" "${demo_packages[@]}") ;;
test) wanted=("${run_packages[@]}" "${test_packages[@]}") ;;
*)
  echo "usage: $0 run|demo|test" >&2
  exit 2
  ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
