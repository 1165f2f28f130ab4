#!/usr/bin/env bash
# Makes the Debian package (scripts/package.sh: cpack -G DEB in build/) and
# checks it as Debian does: lintian on the .deb (errors and warnings fail,
# infos are shown), and on the files inside it desktop-file-validate (the menu
# entry; any hint fails) and appstreamcli validate (the AppStream metainfo,
# alone and against the menu entry and icons beside it; infos fail too).
# Nothing is fetched from the network.
#   scripts/lint-package.sh            installs what is missing, builds build/, packages and checks
#   scripts/lint-package.sh FOLDER     packages a build already made in FOLDER and checks
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
if [ $# -eq 0 ]; then
  scripts/build.sh
fi
rm -f "$build"/velloria_*_amd64.deb
(cd "$build" && cpack -G DEB) >"$build/cpack.log" 2>&1 || { cat "$build/cpack.log"; exit 1; }
deb="$(ls "$build"/velloria_*_amd64.deb)"
contents="$(mktemp -d)"
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
failed=0

echo "== lintian $(basename "$deb")"
status=0
report="$(lintian --display-info --fail-on error,warning --tag-display-limit 0 "$deb" 2>&1)" || status=$?
# As root lintian says it would rather not be: that line is no finding.
report="$(grep -v '^running with root privileges is not recommended!$' <<<"$report" || true)"
[ -z "$report" ] || echo "$report"
[ "$status" -eq 0 ] || failed=1

entry="$contents/usr/share/applications/com.zelvat.velloria.desktop"
echo "== desktop-file-validate ${entry#"$contents"}"
# It exits 0 on hints and warnings: any output is a finding.
out="$(desktop-file-validate "$entry" 2>&1)" || failed=1
[ -z "$out" ] || { echo "$out"; failed=1; }

metainfo="$contents/usr/share/metainfo/com.zelvat.velloria.metainfo.xml"
echo "== appstreamcli validate ${metainfo#"$contents"}"
appstreamcli validate --no-net --strict --explain "$metainfo" || failed=1
echo "== appstreamcli validate-tree (the package's files)"
appstreamcli validate-tree --no-net --strict --explain "$contents" || failed=1

if [ "$failed" -ne 0 ]; then
  echo "package checks failed: $(basename "$deb")" >&2
  exit 1
fi
echo "package checks passed: $(basename "$deb")"
