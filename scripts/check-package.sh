#!/usr/bin/env bash
# Installs build/velloria_*_amd64.deb with apt into a fresh Debian 12 made by
# debootstrap, then starts the program the way a desktop menu does: the
# command of the installed menu entry's Exec line, on a private X server in
# that system. Passes when the entry's icon is installed, the window of the
# entry's StartupWMClass appears, and the program is still running. Needs
# root and Debian's mirror; leaves a screenshot in build/package-check.xwd.
#   sudo scripts/check-package.sh [FOLDER]     (default build/package-root)
set -euo pipefail
cd "$(dirname "$0")/.."
root="${1:-build/package-root}"
deb="$(ls build/velloria_*_amd64.deb 2>/dev/null | tail -n 1)"
[ -n "$deb" ] || { echo "no package: run scripts/package.sh first" >&2; exit 1; }
if ! command -v debootstrap >/dev/null; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends debootstrap
fi
if [ ! -x "$root/usr/bin/apt-get" ]; then
  rm -rf "$root"
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian
fi

mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" || true; done
}
trap cleanup EXIT
for m in proc dev; do
  if ! mountpoint -q "$root/$m"; then
    if [ "$m" = proc ]; then mount -t proc proc "$root/proc"; else mount --bind /dev "$root/dev"; fi
    mounted+=("$root/$m")
  fi
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
in_root() { chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

in_root apt-get update
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y "/tmp/$(basename "$deb")"
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends xvfb xauth xdotool x11-apps
in_root dpkg-query -W velloria fonts-noto-color-emoji

cat > "$root/tmp/start-from-menu.sh" <<'EOF'
#!/bin/sh
# Runs on the private X server: the menu entry's command, then its window.
set -eu
entry=/usr/share/applications/com.zelvat.velloria.desktop
command=$(sed -n 's/^Exec=//p' "$entry")
icon=$(sed -n 's/^Icon=//p' "$entry")
class=$(sed -n 's/^StartupWMClass=//p' "$entry")
ls /usr/share/icons/hicolor/48x48/apps/"$icon".png
export XDG_RUNTIME_DIR=/tmp/runtime-root
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
$command &
pid=$!
for i in $(seq 1 50); do
  window=$(xdotool search --class "^$class\$" 2>/dev/null | head -n 1 || true)
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "no window of class $class"; exit 1; }
sleep 1
echo "window: $(xdotool getwindowname "$window")"
xwd -root -silent > /tmp/package-check.xwd
kill -0 "$pid"
kill "$pid"
EOF
chmod +x "$root/tmp/start-from-menu.sh"
in_root xvfb-run -a -s "-screen 0 1024x768x24" /tmp/start-from-menu.sh
cp "$root/tmp/package-check.xwd" build/package-check.xwd
echo "screenshot: build/package-check.xwd (xwud -in build/package-check.xwd)"
echo "package check passed: $(basename "$deb") installed and started in $root"
