# Sourced by scripts/fresh-debian.sh and scripts/handheld.sh: a fresh Debian root on the disk,
# its mounts, and its removal on every exit, never while anything is mounted in it.
#   make_root NAME   sets root to a new folder /var/tmp/NAME-XXXXXX and removes it on exit
#   mount_root       ROOT a mount point of its own, with /proc and a slave copy of /dev

if [ "$(id -u)" -ne 0 ]; then
  echo "$0: run it as root: it makes a root, mounts in it and chroots into it" >&2
  exit 2
fi
sources=/etc/apt/sources.list.d/debian.sources
[ -f "$sources" ] || sources=/etc/apt/sources.list
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "Note: uncommitted changes are not part of the check; it takes HEAD."
fi
tree=/root/pocketdrum
path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

# Installs the Debian packages named whose commands are missing: "command:package" pairs.
need_commands() {
  local pair missing=()
  for pair in "$@"; do
    command -v "${pair%%:*}" >/dev/null || missing+=("${pair#*:}")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

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
  rm -f "$root.sources"
  exit "$status"
}

# On the disk, not in memory: the packages and the builds take gigabytes.
make_root() {
  root=$(mktemp -d "/var/tmp/$1-XXXXXX")
  trap clean_up EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

# ROOT as a mount point of its own lets unshare -m work inside (the menu hand-over tests); the
# copy of /dev is a slave, so that unmounting it never reaches the host's.
mount_root() {
  mount --bind "$root" "$root"
  mount --make-private "$root"
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount --make-rslave "$root/dev"
}

fail() {
  echo "FAILED: $1" >&2
  exit 1
}
