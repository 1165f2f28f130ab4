#!/usr/bin/env bash
# Installs what Velloria needs to build, run, test and package on Debian 12.
set -euo pipefail
packages=(cmake ninja-build g++ qt6-base-dev qt6-networkauth-dev qtkeychain-qt6-dev qt6-qpa-plugins libqt6dbus6 libgl-dev dbus fonts-dejavu-core fonts-dejavu-extra ca-certificates xvfb xauth openbox xdotool x11-utils curl)
# The desktop's secret store: libsecret (QtKeychain loads it at run time), and
# for tst_keyring the real gnome-keyring in a private D-Bus session
# (dbus-run-session), secret-tool to look from outside, gcr's prompter.
packages+=(libsecret-1-0 gnome-keyring gcr libsecret-tools dbus-daemon dbus-bin)
# Packaging: desktop-file-validate, and dpkg-shlibdeps and file for CPack's dependency list;
# gzip for the manual page and changelog; lintian and appstreamcli for scripts/lint-package.sh.
packages+=(desktop-file-utils dpkg-dev file gzip lintian appstream)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
