#!/usr/bin/env bash
# CI's check, to repeat before pushing: the README's commands in a newcomer's order, on a freshly
# made minimal Debian 12 root with only git added, holding the committed tree (git archive HEAD).
#   1. scripts/deps.sh run, then a plain cmake configure and build: the run packages suffice
#   2. ./run.sh without a display: the demo is written
#   3. build/pocketdrum --export beat.wav: the WAV is written
#   4. ./test.sh
# Needs root, mmdebstrap and Debian's packages, from this machine's own apt sources.
#   scripts/fresh-debian.sh
set -euo pipefail
cd "$(dirname "$0")/.."

. scripts/fresh-root.sh
need_commands mmdebstrap:mmdebstrap
make_root pocketdrum-fresh

started=$SECONDS
mmdebstrap --quiet --variant=minbase --include=git,ca-certificates bookworm "$root" "$sources"
mkdir -p "$root$tree"
git archive HEAD | tar -x -C "$root$tree"
mount_root
echo "== a fresh Debian 12 root in $root, made in $((SECONDS - started)) s"

# A login's bare environment: no DISPLAY or anything else of the caller's leaks in.
step() {
  local begun=$SECONDS
  echo "== $1"
  chroot "$root" env -i HOME=/root PATH="$path" bash -c "cd $tree && $1"
  echo "== done in $((SECONDS - begun)) s: $1"
}

# RIFF, a size, then WAVE; a header alone is 44 bytes, so more means sound.
is_wav() {
  [ -f "$1" ] && [ "$(head -c 4 "$1")" = RIFF ] && [ "$(head -c 12 "$1" | tail -c 4)" = WAVE ] &&
    [ "$(stat -c %s "$1")" -gt 44 ]
}

step "scripts/deps.sh run && cmake -S . -B build-run && cmake --build build-run"
[ -x "$root$tree/build-run/pocketdrum" ] || fail "the run packages alone built no program"

step "./run.sh" | tee "$root/run.log"
demo=$(sed -n 's/^Demo written to \(.*\): .*/\1/p' "$root/run.log")
[ -n "$demo" ] || fail "./run.sh named no demo folder"
is_wav "$root$demo/demo.wav" || fail "no demo.wav with sound in $demo"
compgen -G "$root$demo/*.png" >/dev/null || fail "no screenshot in $demo"

step "build/pocketdrum --export beat.wav"
is_wav "$root$tree/beat.wav" || fail "build/pocketdrum --export wrote no WAV"

step "./test.sh"
echo "== all four steps passed in $((SECONDS - started)) s"
