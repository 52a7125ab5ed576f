#!/usr/bin/env bash
# Runs the end-to-end suite on the real Windows program: its own Xvfb display and Wine prefix, the
# prepared databases, then the driver under a Chinese and under an English locale. Screenshots go
# to build/windows/e2e-shots/ as PNG. Last line: "e2e: N passed, M failed"; non-zero on any failure.
# Expects the Windows build in build/windows (scripts/test.sh builds it first).
# Environment: E2E_ONLY=name,prefix* runs only those scenarios; E2E_LOCALES overrides the
# locales; E2E_TIME_SCALE stretches every time limit on a slow machine.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build="$root/build/windows"
e2e_bin="$build/tests/e2e"
program=${E2E_PROGRAM:-"$build/win32/Obrellin.exe"}
shots="$build/e2e-shots"
work="$build/e2e-work"
fixtures="$build/e2e-fixtures"
logs="$build/e2e-logs"
export WINEPREFIX="$root/build/e2e-wineprefix"
export WINEDEBUG=-all
locales=${E2E_LOCALES:-"zh_CN.UTF-8 en_US.UTF-8"}
scale=${E2E_TIME_SCALE:-1}

passed=0
failed=0
not_run=0
finish() {
  local extra=""
  [ "$not_run" -gt 0 ] && extra=" ($not_run not run)"
  echo "e2e: $passed passed, $failed failed$extra"
  if [ "$failed" -eq 0 ]; then exit 0; else exit 1; fi
}

for tool in e2e_driver e2e_recorder; do
  if [ ! -f "$e2e_bin/$tool.exe" ]; then
    echo "run-e2e: $e2e_bin/$tool.exe is missing; build the windows preset first"
    failed=1
    finish
  fi
done

. "$root/tests/e2e/wine-session.sh"
if ! wine_session_start; then
  echo "run-e2e: cannot start Xvfb on any display from :92 to :120"
  failed=1
  finish
fi
echo "run-e2e: Xvfb on $DISPLAY, Wine prefix $WINEPREFIX"
wine_session_prepare_prefix "$e2e_bin/e2e_recorder.exe"

rm -rf "$shots" "$work" "$fixtures" "$logs"
mkdir -p "$shots" "$work" "$fixtures" "$logs"

# The prepared databases. Without the fixture tool (the store's file library is not in the
# tree yet) the scenarios that need one are reported as not run.
if [ -f "$e2e_bin/e2e_fixture.exe" ]; then
  echo "run-e2e: writing the prepared databases"
  if ! "$root/scripts/wine-run" "$e2e_bin/e2e_fixture.exe" make "$(winpath "$fixtures")" \
      >"$logs/fixtures.log" 2>&1; then
    echo "run-e2e: the fixture tool failed:"
    cat "$logs/fixtures.log"
    failed=1
    finish
  fi
else
  echo "run-e2e: no fixture tool in this build; scenarios on prepared databases will not run"
fi

only_args=()
if [ -n "${E2E_ONLY:-}" ]; then
  only_args=(--only "$E2E_ONLY")
fi

not_run=0
for loc in $locales; do
  label=${loc%%.*}
  report="$logs/report-$label.txt"
  echo "== e2e under LANG=$loc"
  # A fresh wineserver takes the locale of its first program.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
  LANG=$loc LC_ALL=$loc timeout 480 "$root/scripts/wine-run" "$e2e_bin/e2e_driver.exe" \
    --program "$(winpath "$program")" \
    --fixtures "$(winpath "$fixtures")" \
    --fixture-tool "$(winpath "$e2e_bin/e2e_fixture.exe")" \
    --recorder 'C:\e2e\e2e_recorder.exe' \
    --work "$(winpath "$work/$label")" \
    --shots "$(winpath "$shots")" \
    --label "$label" \
    --report "$(winpath "$report")" \
    --scale "$scale" \
    "${only_args[@]}" >"$logs/driver-$label.log" 2>&1
  rc=$?
  # The report holds one line per scenario; the rest of the driver's output is in the log.
  # Scenario lines, and under a failure what the driver saw.
  if [ -f "$report" ]; then
    grep -vE '^driver: ' "$report" | sed "s/^/  [$label] /"
  fi
  p=$(grep -cE '^PASS ' "$report" 2>/dev/null)
  f=$(grep -cE '^FAIL ' "$report" 2>/dev/null)
  n=$(grep -cE '^NOT RUN ' "$report" 2>/dev/null)
  passed=$((passed + ${p:-0}))
  failed=$((failed + ${f:-0}))
  not_run=$((not_run + ${n:-0}))
  if ! grep -qE '^driver: [0-9]+ passed' "$report" 2>/dev/null; then
    echo "  [$label] the driver did not finish (exit code $rc); see $logs/driver-$label.log"
    tail -n 20 "$logs/driver-$label.log"
    failed=$((failed + 1))
  elif [ "$rc" -ne 0 ] && [ "${f:-0}" -eq 0 ]; then
    echo "  [$label] the driver exited with $rc"
    failed=$((failed + 1))
  fi
  # Each locale must really reach the program: Chinese has code page 936, English 1252.
  acp=$(sed -nE 's/^driver: ANSI code page ([0-9]+).*/\1/p' "$report" 2>/dev/null | head -n 1)
  case "$label" in
    zh_CN) want=936 ;;
    en_US) want=1252 ;;
    *) want="" ;;
  esac
  if [ -n "$want" ] && [ "$acp" != "$want" ]; then
    echo "  [$label] Wine runs with ANSI code page '${acp}', expected $want"
    failed=$((failed + 1))
  fi
done

# Screenshots as PNG.
shopt -s nullglob
for bmp in "$shots"/*.bmp; do
  if convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null; then
    rm -f "$bmp"
  fi
done
count=$(ls "$shots"/*.png 2>/dev/null | wc -l)
echo "run-e2e: $count screenshots in $shots"
finish
