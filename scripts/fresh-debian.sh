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

if [ "$(id -u)" -ne 0 ]; then
  echo "$0: run it as root: it makes a root, mounts in it and chroots into it" >&2
  exit 2
fi
sources=/etc/apt/sources.list.d/debian.sources
[ -f "$sources" ] || sources=/etc/apt/sources.list
if ! command -v mmdebstrap >/dev/null; then
  apt-get update -qq && apt-get install -y -qq --no-install-recommends mmdebstrap
fi
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "Note: uncommitted changes are not part of the check; it takes HEAD."
fi

# On the disk, not in memory: the packages and two builds take about 3 GB.
root=$(mktemp -d /var/tmp/pocketdrum-fresh-XXXXXX)
tree=/root/pocketdrum
path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

mounted_under_root() {
  awk -v r="$root" '$5 == r || index($5, r "/") == 1 { print $5 }' /proc/self/mountinfo
}

# Every process whose root is the chroot (a sound server, an X server, a test left behind):
# asked to end, then killed, so that nothing holds a mount.
end_processes() {
  local signal pid seen left
  for signal in TERM TERM KILL KILL KILL; do
    left=()
    for pid in /proc/[0-9]*; do
      seen=$(readlink "$pid/root" 2>/dev/null) || continue
      if [ "$seen" = "$root" ] || [ "${seen#"$root"/}" != "$seen" ]; then
        left+=("${pid#/proc/}")
      fi
    done
    [ ${#left[@]} -eq 0 ] && return 0
    kill -s "$signal" "${left[@]}" 2>/dev/null || true
    sleep 2
  done
  echo "processes still running in $root: ${left[*]}" >&2
}

# The root is removed only once nothing is mounted in it: never with the host's /dev inside.
clean_up() {
  local status=$?
  trap - EXIT INT TERM
  end_processes
  umount -R "$root" 2>/dev/null || true
  if [ -n "$(mounted_under_root)" ]; then
    echo "still mounted, so $root is left in place:" >&2
    mounted_under_root >&2
    exit 1
  fi
  rm -rf --one-file-system "$root"
  exit "$status"
}
trap clean_up EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

started=$SECONDS
mmdebstrap --quiet --variant=minbase --include=git,ca-certificates bookworm "$root" "$sources"
mkdir -p "$root$tree"
git archive HEAD | tar -x -C "$root$tree"
# ROOT as a mount point of its own lets unshare -m work inside (the menu hand-over tests); the
# copy of /dev is a slave, so that unmounting it never reaches the host's.
mount --bind "$root" "$root"
mount --make-private "$root"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
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

fail() {
  echo "FAILED: $1" >&2
  exit 1
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
