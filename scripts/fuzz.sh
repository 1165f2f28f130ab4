#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer into build-fuzz/ and runs
# each for SECONDS (default 60), starting from its seed corpus. An input that
# makes a target fail is left in build-fuzz/crashes/<target>/ and the script
# fails; copy it to tests/fuzz/regressions/<target>/ once fixed, so the normal
# suite replays it.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_postspage fuzz_signin fuzz_htmltotext fuzz_journal fuzz_jsonanswer)
scripts/install-deps.sh
for p in clang-14 libclang-rt-14-dev; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends clang-14 libclang-rt-14-dev
    break
  fi
done
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLORIA_FUZZ=ON \
  -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build-fuzz --parallel "$(nproc)"
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=0
for target in "${targets[@]}"; do
  work="build-fuzz/corpus/$target"
  crashes="build-fuzz/crashes/$target"
  mkdir -p "$work" "$crashes"
  echo "== $target, $seconds s"
  if ! build-fuzz/tests/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=262144 -artifact_prefix="$crashes/" -print_final_stats=1 \
      "$work" tests/fuzz/corpus/"$target" 2>&1 | tail -n 12; then
    failed=1
  fi
  if [ -n "$(ls -A "$crashes")" ]; then
    echo "$target: inputs that failed are in $crashes"
    failed=1
  fi
done
exit $failed
