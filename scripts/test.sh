#!/usr/bin/env bash
# Runs every test: the native build (plain, AddressSanitizer + UBSan, ThreadSanitizer), the same
# core tests built for Windows under Wine, and the end-to-end suite on the real program under
# Wine + Xvfb. Installs what it needs first. Ends with one summary line; non-zero on any failure.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh || exit 1

jobs=$(nproc)
logdir="$root/build/test-logs"
mkdir -p "$logdir"
passed=0
failed=0
failures=()

# Reads "N% tests passed, F tests failed out of T" from a CTest log into the totals.
count_ctest() {
  local log=$1 line t f
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$line" ]; then
    return 1
  fi
  f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
  passed=$((passed + t - f))
  failed=$((failed + f))
}

build_preset() {
  local preset=$1
  echo "== build ($preset)"
  if ! cmake --preset "$preset" >"$logdir/$preset-configure.log" 2>&1 ||
     ! cmake --build --preset "$preset" -j "$jobs" >"$logdir/$preset-build.log" 2>&1; then
    echo "!! build of $preset failed, see $logdir/$preset-*.log"
    tail -n 40 "$logdir/$preset-configure.log" "$logdir/$preset-build.log" 2>/dev/null
    failures+=("$preset (build)")
    failed=$((failed + 1))
    return 1
  fi
}

test_preset() {
  local name=$1 preset=$2
  echo "== tests: $name"
  ctest --preset "$preset" -j "$jobs" --timeout 900 2>&1 | tee "$logdir/$preset-test.log" | tail -n 15
  if ! count_ctest "$logdir/$preset-test.log" || grep -qE '[1-9][0-9]* tests? failed out of' "$logdir/$preset-test.log"; then
    failures+=("$name")
  fi
}

# The Windows build comes first: native tests check that files move between the two builds.
built=()
for preset in windows native native-asan native-tsan; do
  build_preset "$preset" && built+=("$preset")
done
has() { local x; for x in "${built[@]}"; do [ "$x" = "$1" ] && return 0; done; return 1; }

has native && test_preset "native" native
has native-asan && test_preset "native ASan+UBSan" native-asan
has native-tsan && test_preset "native TSan" native-tsan
has windows && test_preset "Windows build under Wine" windows

if has windows && [ -x tests/e2e/run-e2e.sh ]; then
  echo "== end-to-end under Wine + Xvfb"
  bash tests/e2e/run-e2e.sh 2>&1 | tee "$logdir/e2e.log" | tail -n 25
  line=$(grep -E '^e2e: [0-9]+ passed, [0-9]+ failed' "$logdir/e2e.log" | tail -n 1)
  if [ -n "$line" ]; then
    p=$(sed -E 's/^e2e: ([0-9]+) passed, ([0-9]+) failed.*/\1/' <<<"$line")
    f=$(sed -E 's/^e2e: ([0-9]+) passed, ([0-9]+) failed.*/\2/' <<<"$line")
    passed=$((passed + p))
    failed=$((failed + f))
    [ "$f" -eq 0 ] || failures+=("e2e")
  else
    failures+=("e2e (no result)")
    failed=$((failed + 1))
  fi
fi

echo
if [ ${#failures[@]} -gt 0 ]; then
  echo "failing stages: ${failures[*]}"
fi
echo "all: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
