#!/usr/bin/env bash
# Builds Halvane's Debian package, checks it with lintian and desktop-file-validate,
# and installs it with apt-get into a fresh Debian 12 root (debootstrap), where a
# user who is not root converts a demo song with halvane-convert and opens the
# window under Xvfb. Run as root, with network to deb.debian.org.
#   scripts/package_test.sh        (BUILD_DIR: the package's build folder, default build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build_dir=$(realpath -m "${BUILD_DIR:-build-package}")
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
say() { echo "== $*"; }

# --- The package: a Release build with Debian's hardening flags. ------------------
say "Building the package in $build_dir"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALVANE_BUILD_UI=ON -DHALVANE_BUILD_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/opt/halvane -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CFLAGS) $CPPFLAGS" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build_dir" -j "$(nproc)" \
  --target halvane halvane-convert halvane-regsvr OVDMOFilter halvane_package_files
rm -f "$build_dir"/halvane_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
deb=$(echo "$build_dir"/halvane_*_"$(dpkg --print-architecture)".deb)
[ -f "$deb" ] || { echo "no package was made" >&2; exit 1; }
say "Package: $deb"
dpkg-deb --field "$deb" Depends

# --- Its checks. --------------------------------------------------------------------
say "lintian (no errors allowed; warnings and notes listed; /opt is overridden in packaging/lintian-overrides)"
lintian --fail-on error --display-info "$deb" | tee "$build_dir/lintian.txt"
say "desktop-file-validate"
desktop-file-validate packaging/halvane.desktop

# --- A fresh Debian 12 root. ----------------------------------------------------------
root=$build_dir/debian-root
# Downloads are kept between runs (the root itself is made afresh every time).
debootstrap_cache=$build_dir/cache/debootstrap
apt_cache=$build_dir/cache/apt
mounts=()
cleanup() {
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null || true
  done
  mounts=()
}
trap cleanup EXIT
trap 'exit 130' INT TERM
bind() {
  mkdir -p "$2"
  mount "${@:3}" "$1" "$2"
  mounts+=("$2")
}
# Anything left mounted by an interrupted run goes before the old root does.
grep -o " $root/[^ ]*" /proc/mounts | sort -r | while read -r left; do umount -l "$left"; done || true
if grep -q " $root/" /proc/mounts; then echo "$root still has mounts; not removing it" >&2; exit 1; fi
rm -rf --one-file-system "$root"
mkdir -p "$root" "$debootstrap_cache" "$apt_cache/partial"

say "debootstrap bookworm (minbase) into $root"
# A download that fails on the way is tried once more, from an empty root (what was
# downloaded stays in the cache).
bootstrapped=
for attempt in 1 2; do
  if debootstrap --variant=minbase --cache-dir="$debootstrap_cache" bookworm "$root" "$mirror" \
    >"$build_dir/debootstrap.log" 2>&1; then
    bootstrapped=yes
    break
  fi
  tail -20 "$build_dir/debootstrap.log"
  rm -rf --one-file-system "$root" && mkdir -p "$root"
done
[ -n "$bootstrapped" ] || { echo "debootstrap failed twice" >&2; exit 1; }
bind proc "$root/proc" -t proc
bind /dev "$root/dev" --bind
bind /dev/pts "$root/dev/pts" --bind
bind "$apt_cache" "$root/var/cache/apt/archives" --bind
cp /etc/resolv.conf "$root/etc/resolv.conf"
# No services start inside the root.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod 755 "$root/usr/sbin/policy-rc.d"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8 "$@"; }

say "Installing the package into the root"
cp "$deb" "$root/tmp/"
# Network hiccups: each download step is tried up to three times.
retry() { "$@" || { sleep 5; "$@"; } || { sleep 15; "$@"; }; }
retry in_root apt-get update -qq
# The small General MIDI SoundFont first (the package takes any sf2-soundfont-gm), and
# what the test alone needs: Xvfb and xauth for xvfb-run.
retry in_root apt-get install -y -qq --no-install-recommends timgm6mb-soundfont xvfb xauth >/dev/null
retry in_root apt-get install -y --no-install-recommends "/tmp/$(basename "$deb")"
in_root dpkg -s halvane | grep -E '^(Status|Version)'

# --- As a user who is not root. ------------------------------------------------------
user=player
in_root useradd --create-home --shell /bin/bash "$user"
home=$root/home/$user
python3 tools/make_demo_songs.py "$home/songs" >/dev/null
song=$(cd "$home/songs" && ls | head -n 1)
in_root chown -R "$user:$user" "/home/$user/songs"
as_user() {
  chroot --userspec="$user:$user" "$root" env -i PATH=/usr/bin:/bin HOME="/home/$user" USER="$user" \
    LANG=C.UTF-8 HALVANE_AUDIO_DRIVER=none "$@"
}

say "halvane-convert \"$song\" as $user"
as_user sh -c "cd /home/$user && halvane-convert --out /home/$user/out \"songs/$song\""
wav="$home/out/${song%.*}.wav"
python3 - "$wav" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[:4] == b"RIFF" and data[8:12] == b"WAVE", "not a RIFF/WAVE file"
at, sound = 12, 0
while at + 8 <= len(data):
    kind, size = data[at:at + 4], struct.unpack("<I", data[at + 4:at + 8])[0]
    if kind == b"data":
        sound = min(size, len(data) - at - 8)
    at += 8 + size + (size & 1)
assert sound > 0 and any(data[-sound:]), "no sound in the data chunk"
print(f"{sys.argv[1]}: RIFF/WAVE, {sound} bytes of sound")
EOF
[ -s "$home/.local/state/halvane/convert-log.txt" ] || { echo "no convert-log.txt in the state folder" >&2; exit 1; }

say "The window under Xvfb as $user"
# On a first start of its own (halvane-convert's registration and settings gone) it
# registers the capture component and picks its output folder; then it is closed.
rm -rf "$home/.config/halvane"
as_user xvfb-run -a -s "-nolisten tcp -screen 0 1024x768x24" sh -c "
  halvane \"/home/$user/songs/$song\" >/home/$user/window.out 2>&1 &
  for i in \$(seq 150); do
    grep -q 'WAV path' /home/$user/.local/state/halvane/log.txt 2>/dev/null &&
      grep -qi OVDMOFilter /home/$user/.config/halvane/registry.ini 2>/dev/null && break
    sleep 0.2
  done
  sleep 1
  kill \$! && wait \$! || true"
log=$home/.local/state/halvane/log.txt
fail() { echo "$*" >&2; cat "$home/window.out" >&2; exit 1; }
[ -s "$log" ] || fail "no log.txt in the state folder"
grep -q "Start Halvane" "$log" || fail "log.txt lacks the start banner"
grep -q "WAV path: /home/$user/Music/Halvane" "$log" || fail "the default output folder is not ~/Music/Halvane"
[ -d "$home/Music/Halvane" ] || fail "~/Music/Halvane was not made"
grep -qi "OVDMOFilter" "$home/.config/halvane/registry.ini" || fail "the capture component is not registered per user"
[ ! -e "$root/opt/halvane/bin/log.txt" ] || fail "a log.txt was written into the program folder"
say "Window log: ${log#"$root"}"
grep -E "Start Halvane|WAV path|file:" "$log" | head -n 5

say "Package test passed: $(basename "$deb")"
