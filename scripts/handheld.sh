#!/usr/bin/env bash
# The port for aarch64 Linux handhelds, built and proven under emulation; CI runs it after
# scripts/fresh-debian.sh. In a fresh Debian 12 root holding the committed tree (git archive HEAD),
# with arm64 as a foreign architecture:
#   1. SDL_mixer 1.2 cross-built from Debian's source, Ogg Vorbis only (no FluidSynth, no GPL);
#   2. the program cross-built (cmake/aarch64.cmake), its unit tests run by ctest under qemu, and
#      the x86-64 program built beside it as the reference;
#   3. the port: pocketdrum/ (binary, assets/, libs.aarch64/ found from the binary's needs,
#      licences/, kits/, port.json, README.md, screenshot.png) and "Pocket Drum.sh", zipped;
#   4. the proof, against the x86-64 program: the same MIDI files, the same WAV files with a kit of
#      16-bit 44.1 kHz WAV files, straight and shuffled, the built-in kit within 4 LSB; then, in a
#      device-like arm64 root holding only glibc and SDL 2 (and what Debian's SDL 2 pulls in), the
#      zip unpacked into a folder with spaces: the export runs, LD_DEBUG=libs shows every carried
#      library loaded from libs.aarch64, the launch script's window equals the x86-64 one pixel
#      for pixel under Xvfb, and a virtual game controller starts play and quits with status 0.
# Needs root, mmdebstrap and Debian's packages, from this machine's own apt sources. Writes the
# zip to OUT (default build-handheld/) and removes the root.
#   scripts/handheld.sh [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
tree=/root/pocketdrum
zipname=pocketdrum-aarch64.zip

# ---- inside the root ------------------------------------------------------------------------

fail() {
  echo "FAILED: $1" >&2
  exit 1
}

# The libraries a device has of its own: glibc, the C++ runtime (linked statically into the
# program anyway) and SDL 2 with the audio, video, input and bus libraries under it. A copy of any
# of these on LD_LIBRARY_PATH would replace the device's own.
device_libraries='^(ld-linux-aarch64|libc|libm|libdl|libpthread|librt|libresolv|libutil|libstdc\+\+|libgcc_s|libSDL2-2\.0|libasound|libpulse[a-z-]*|libjack[a-z]*|libdrm|libgbm|libEGL|libGL[A-Za-z]*|libX[A-Za-z0-9]*|libxcb[a-z0-9-]*|libwayland-[a-z]*|libdbus-1|libudev)\.so'
armlibs=(/opt/mixer/lib /usr/lib/aarch64-linux-gnu /lib/aarch64-linux-gnu)

needed() {
  aarch64-linux-gnu-readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p'
}

# Copies into DIR every library FILE needs, and what those need, but the device's own.
carry_libraries() {
  local dir=$2 queue=("$1") name found d
  while [ ${#queue[@]} -gt 0 ]; do
    for name in $(needed "${queue[0]}"); do
      if [[ $name =~ $device_libraries ]] || [ -e "$dir/$name" ]; then
        continue
      fi
      found=""
      for d in "${armlibs[@]}"; do
        [ -e "$d/$name" ] && found=$(readlink -f "$d/$name") && break
      done
      [ -n "$found" ] || fail "no arm64 $name, which ${queue[0]} needs"
      cp "$found" "$dir/$name"
      queue+=("$dir/$name")
      echo "$name $found"
    done
    queue=("${queue[@]:1}")
  done
}

# The highest glibc symbol version the files ask for.
glibc_needed() {
  aarch64-linux-gnu-objdump -T "$@" | grep -o 'GLIBC_[0-9.]*' | sort -Vu | tail -n 1
}

build_mixer() {
  mkdir -p /opt/src && cd /opt/src
  apt-get update -qq
  apt-get source -qq sdl-mixer1.2 >/dev/null 2>&1
  cd sdl-mixer1.2-*/
  cp /usr/share/misc/config.sub /usr/share/misc/config.guess build-scripts/
  PKG_CONFIG_LIBDIR=/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig ./configure -q \
    --host=aarch64-linux-gnu --prefix=/opt/mixer --disable-static --disable-sdltest \
    --enable-music-wave --enable-music-ogg --disable-music-ogg-shared --disable-music-ogg-tremor \
    --disable-music-cmd --disable-music-mod --disable-music-midi --disable-music-flac \
    --disable-music-mp3 --disable-music-mp3-mad-gpl
  make -s -j2 >/dev/null
  make -s install >/dev/null
  cp debian/copyright /opt/mixer/copyright
}

build_programs() {
  cd "$tree"
  # statically linked C++ runtime: a device's libstdc++ may be older, and a newer one of ours on
  # LD_LIBRARY_PATH would stand in for the device's own under its graphics drivers
  PKG_CONFIG_PATH=/opt/mixer/lib/pkgconfig cmake -S . -B build-arm64 \
    -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64.cmake -DBUILD_TESTING=ON -DBUILD_BENCHMARKS=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_X11=ON -DMIDI_OUT=OFF \
    -DCMAKE_EXE_LINKER_FLAGS="-static-libstdc++ -static-libgcc" \
    -DCMAKE_SHARED_LINKER_FLAGS="-static-libstdc++ -static-libgcc" >/dev/null
  cmake --build build-arm64 -j2 >/dev/null
  (cd build-arm64 && ctest -j2 --timeout 1200 --output-on-failure)
  # the reference as the port is built: without JACK's MIDI out, which no output here uses
  cmake -S . -B build-x86 -DMIDI_OUT=OFF >/dev/null
  cmake --build build-x86 -j2 --target pocketdrum >/dev/null
}

make_port() {
  local port=$1 game=$1/pocketdrum name found pkg
  mkdir -p "$game/libs.aarch64" "$game/licences" "$game/kits"
  aarch64-linux-gnu-strip -o "$game/pocketdrum" build-arm64/pocketdrum
  cp -r assets "$game/"
  cp install/handheld/launch.sh "$port/Pocket Drum.sh"
  cp install/handheld/port.json install/handheld/README.md "$game/"
  cp LICENSE "$game/licences/pocketdrum.txt"
  carry_libraries "$game/pocketdrum" "$game/libs.aarch64" | while read -r name found; do
    if [ "${found#/opt/mixer/}" != "$found" ]; then
      cp /opt/mixer/copyright "$game/licences/sdl-mixer1.2.txt"
    else
      pkg=$(dpkg -S "$found" 2>/dev/null || dpkg -S "${found#/usr}") || fail "no package owns $found"
      pkg=${pkg%%:*}
      cp "/usr/share/doc/$pkg/copyright" "$game/licences/$pkg.txt"
    fi
  done
  echo "== carried, $(du -sh "$game/libs.aarch64" | cut -f1): $(ls "$game/libs.aarch64" | tr '\n' ' ')"
  echo "== glibc needed: the binary $(glibc_needed "$game/pocketdrum"), with libs.aarch64" \
    "$(glibc_needed "$game/pocketdrum" "$game"/libs.aarch64/*)"
}

# The kit of 16-bit 44.1 kHz stereo WAV files and the two beats the exports are compared on.
make_inputs() {
  local dir=$1 n row
  mkdir -p "$dir/kit"
  for n in $(seq 1 10); do
    sox -n -r 44100 -b 16 -c 2 "$dir/kit/$(printf %02d "$n")-tone.wav" \
      synth 0.$((n + 1)) pluck $((80 * n)) fade 0 0.$((n + 1)) 0.05
  done
  printf 'pocketdrum pattern 1\ntempo 120\nshuffle off\n' >"$dir/straight.pdrum"
  printf 'pocketdrum pattern 1\ntempo 133.5\nshuffle on\n' >"$dir/shuffled.pdrum"
  for row in x...x...x...x... ..x...x...x...xx x.x.x.x.x.x.x.x. ....x.......x... \
    ................ ...x......x..... ..............x. x..........x.... ......x.......x. \
    .x.x............; do
    echo "$row" | tee -a "$dir/straight.pdrum" >>"$dir/shuffled.pdrum"
  done
}

# Every sample of two WAV files of one length within 4 LSB; prints the largest difference.
within_4_lsb() {
  python3 - "$1" "$2" <<'EOF'
import array, sys, wave
a, b = (array.array("h", wave.open(f).readframes(10**9)) for f in sys.argv[1:])
worst = max((abs(x - y) for x, y in zip(a, b)), default=0)
print("%d samples, the largest difference %d LSB" % (len(a), worst))
sys.exit(0 if len(a) == len(b) and worst <= 4 else 1)
EOF
}

# A capture of the whole 320 x 240 screen, once two taken a second apart agree and the window
# has covered the empty screen.
settled_capture() {
  local out=$1 empty=$2
  for _ in $(seq 1 60); do
    import -display :7 -window root -depth 8 "rgb:$out.a"
    sleep 1
    import -display :7 -window root -depth 8 "rgb:$out"
    if cmp -s "$out" "$out.a" && ! cmp -s "$out" "$empty"; then
      return 0
    fi
  done
  fail "the window never settled on the screen"
}

start_display() {
  Xvfb :7 -screen 0 320x240x24 -nolisten tcp >/dev/null 2>&1 &
  display=$!
  sleep 2
  import -display :7 -window root -depth 8 "rgb:/root/empty.rgb"
}

# The x86-64 program's window, as the launch script starts the program, stopped: the reference,
# and the port's screenshot.
x86_window() {
  local program
  start_display
  (cd "$tree" && SDL_VIDEODRIVER=x11 DISPLAY=:7 SDL_AUDIODRIVER=dummy SDL12COMPAT_WINDOW_SCALING=1 \
    XDG_DATA_HOME=/root/x86-data exec timeout 300 build-x86/pocketdrum --sample-exact --resume) \
    >/dev/null &
  program=$!
  settled_capture /root/x86.rgb /root/empty.rgb
  kill "$program"
  wait "$program" || true
  kill "$display"
  convert -size 320x240 -depth 8 rgb:/root/x86.rgb /root/screenshot.png
}

# The x86-64 exports, then the port's, in a mount namespace of its own where the build root's arm64
# libraries are hidden: qemu looks for a file outside the device root when it is not in it.
prove() {
  local work=/root/proof beat kind
  mkdir -p "$work"
  make_inputs "$work"
  for beat in "" straight shuffled; do
    for kind in mid wav kit.wav; do
      # shellcheck disable=SC2046 # the work folder has no spaces
      (cd "$tree" && build-x86/pocketdrum $(export_args "$work" x86 "$beat" "$kind")) >/dev/null
    done
  done
  unshare --mount bash "$tree/scripts/handheld.sh" --inside device
}

# The arguments of one export: WHO's file of the beat ("" for the start-up one) in KIND.
export_args() {
  local work=$1 who=$2 beat=$3 kind=$4
  echo "--bars 2 --export $work/$who-$beat.$kind"
  [ "$kind" != kit.wav ] || echo "--kit $work/kit"
  [ -z "$beat" ] || echo "$work/$beat.pdrum"
}

on_the_device() {
  local work=/root/proof device=/device game status result beat kind
  local folder="/device/roms/my ports"
  local qemu=(timeout 300 qemu-aarch64-static -L "$device")
  mount -t tmpfs none /usr/lib/aarch64-linux-gnu
  mount -t tmpfs none /opt/mixer
  mkdir -p "$folder"
  unzip -q "/root/$zipname" -d "$folder"
  game="$folder/pocketdrum"

  # Without its libraries the loader names the first one missing, and the program does not start.
  status=0
  (cd "$game" && "${qemu[@]}" ./pocketdrum --export "$work/none.wav") 2>"$work/none.log" || status=$?
  if ! grep -q "error while loading shared libraries" "$work/none.log" || [ "$status" -ne 127 ]; then
    fail "without libs.aarch64: status $status, $(cat "$work/none.log")"
  fi

  for beat in "" straight shuffled; do
    for kind in mid wav kit.wav; do
      # shellcheck disable=SC2046 # the work folder has no spaces
      (cd "$game" && "${qemu[@]}" -E LD_LIBRARY_PATH="$game/libs.aarch64" ./pocketdrum \
        $(export_args "$work" arm64 "$beat" "$kind")) >/dev/null
      if [ "$kind" = wav ]; then
        result=$(within_4_lsb "$work/x86-$beat.$kind" "$work/arm64-$beat.$kind") ||
          fail "the built-in kit's ${beat:-start-up} WAV: $result"
        echo "== the built-in kit, ${beat:-start-up} beat: $result"
      else
        cmp "$work/x86-$beat.$kind" "$work/arm64-$beat.$kind" ||
          fail "arm64's $kind of the ${beat:-start-up} beat differs from x86-64's"
      fi
    done
  done
  echo "== the same MIDI files, and the same WAV files with a kit of WAV files"

  # The port through its launch script, a virtual pad preloaded, LD_DEBUG=libs telling where
  # each library comes from.
  start_display
  mkfifo "$work/pad"
  SDL_VIDEODRIVER=x11 DISPLAY=:7 SDL_AUDIODRIVER=dummy POCKETDRUM_PAD_FIFO=$work/pad \
    POCKETDRUM_EMULATOR="${qemu[*]} -E LD_DEBUG=libs -E LD_PRELOAD=$tree/build-arm64/tests/libpad_preload.so" \
    bash "$folder/Pocket Drum.sh" >"$work/port.out" 2>"$work/port.err" &
  local port=$!
  settled_capture "$work/arm64.rgb" /root/empty.rgb
  cmp /root/x86.rgb "$work/arm64.rgb" || fail "the port's window differs from the x86-64 program's"
  echo "== the port's window equals the x86-64 program's, pixel for pixel"
  printf 'a 1\npasses 2\na 0\npasses 2\n' >"$work/pad"
  # playing, the step counter shows
  for _ in $(seq 1 30); do
    import -display :7 -window root -depth 8 "rgb:$work/playing.rgb"
    ! cmp -s "$work/playing.rgb" "$work/arm64.rgb" && break
    sleep 1
  done
  ! cmp -s "$work/playing.rgb" "$work/arm64.rgb" || fail "A on the pad did not start play"
  printf 'start 1\n' >"$work/pad"
  status=0
  wait "$port" || status=$?
  kill "$display"
  [ "$status" -eq 0 ] || fail "START on the pad: status $status, $(tail -n 5 "$work/port.err")"
  grep -q "virtual pad: attached" "$work/port.err" || fail "the virtual pad was not attached"
  [ -s "$game/data/pocketdrum/last.pdrum" ] || fail "the beat was not kept in the port folder"
  echo "== a virtual game controller started play, and START quit with status 0"

  # Every library carried is the one loaded, and nothing the program needs is missing.
  local lib
  for lib in "$game"/libs.aarch64/*; do
    grep -qF "calling init: $lib" "$work/port.err" ||
      fail "$(basename "$lib") was not loaded from libs.aarch64"
  done
  ! grep "not found" "$work/port.err" || fail "a library was not found"
  echo "== LD_DEBUG=libs: all $(find "$game/libs.aarch64" -type f | wc -l) libraries loaded from libs.aarch64"
}

if [ "${1:-}" = --inside ]; then
  step=$2
  case $step in
  mixer) build_mixer ;;
  build) build_programs ;;
  port)
    cd "$tree"
    rm -rf /root/port && make_port /root/port
    x86_window
    cp /root/screenshot.png /root/port/pocketdrum/
    (cd /root/port && zip -qr "/root/$zipname" "Pocket Drum.sh" pocketdrum)
    ;;
  prove) prove ;;
  device) on_the_device ;;
  esac
  exit 0
fi

# ---- outside: the roots, their mounts and their removal (scripts/fresh-root.sh) -------------

out=$(realpath -m "${1:-build-handheld}")
. scripts/fresh-root.sh
need_commands mmdebstrap:mmdebstrap qemu-aarch64-static:qemu-user-static
make_root pocketdrum-handheld

started=$SECONDS
# deb-src as well, for SDL_mixer's source
sed 's/^Types: deb$/Types: deb deb-src/' "$sources" >"$root.sources"
build_packages=ca-certificates,crossbuild-essential-arm64,qemu-user-static,cmake,make,g++,pkg-config
build_packages+=,dpkg-dev,autotools-dev,zip,unzip,sox,python3,xvfb,xauth,imagemagick
# the x86-64 reference's packages, and the arm64 ones the cross-build links (SDL_mixer apart)
build_packages+=,libsdl1.2-compat-dev,libsdl-image1.2-dev,libsdl-mixer1.2-dev,libsdl-ttf2.0-dev
build_packages+=,libx11-dev,libsndfile1-dev,libsamplerate0-dev
for p in libsdl1.2-compat-dev libsdl-image1.2-dev libsdl-ttf2.0-dev libsndfile1-dev \
  libsamplerate0-dev libsdl2-dev libvorbis-dev libgtest-dev; do
  build_packages+=,$p:arm64
done
mmdebstrap --quiet --variant=minbase --architectures=amd64,arm64 --include="$build_packages" \
  bookworm "$root" "$root.sources"
rm "$root.sources"
# a device: glibc, the C++ runtime and SDL 2 with what Debian's SDL 2 brings; nothing runs in it
mmdebstrap --quiet --variant=extract --architectures=arm64 --include=libc6,libstdc++6,libsdl2-2.0-0 \
  bookworm "$root/device" "$sources"
mkdir -p "$root$tree"
git archive HEAD | tar -x -C "$root$tree"
mount_root
echo "== the build root and the device root in $root, made in $((SECONDS - started)) s"

step() {
  local begun=$SECONDS
  echo "== $1: $2"
  chroot "$root" env -i HOME=/root PATH="$path" bash "$tree/scripts/handheld.sh" --inside "$1"
  echo "== done in $((SECONDS - begun)) s: $2"
}

step mixer "SDL_mixer 1.2 cross-built from Debian's source, Ogg Vorbis only"
step build "the program cross-built, its unit tests under qemu; the x86-64 program"
step port "the port folder, its libraries found from the binary's needs, the zip"
step prove "the same output as x86-64; the zipped port in a device-like root"
mkdir -p "$out"
cp "$root/root/$zipname" "$out/"
echo "== all steps passed in $((SECONDS - started)) s: $out/$zipname"
