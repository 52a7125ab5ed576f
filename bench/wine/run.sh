#!/usr/bin/env bash
# Runs the Wine benchmarks of the real program (bench/wine/ui_bench.cpp) on their own Xvfb display
# and in their own Wine prefix, after building the Windows preset. Figures go to the terminal and
# to build/windows/bench-wine/report.txt; non-zero when a target is missed.
# Arguments are passed to wine_ui_bench (for instance --rebuilds 20 --signins 9).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root"
build="$root/build/windows"
out="$build/bench-wine"
export WINEPREFIX="$root/build/bench-wineprefix"
export WINEDEBUG=-all

cmake --preset windows >/dev/null &&
  cmake --build --preset windows -j "$(nproc)" --target Obrellin wine_ui_bench >/dev/null || {
  echo "bench: the Windows build failed"
  exit 1
}

. "$root/tests/e2e/wine-session.sh"
if ! wine_session_start; then
  echo "bench: cannot start Xvfb on any display from :92 to :120"
  exit 1
fi
wine_session_prepare_prefix
rm -rf "$out"
mkdir -p "$out/work" "$out/shots"
echo "bench: Xvfb on $DISPLAY, Wine prefix $WINEPREFIX; $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -n 1), load $(cut -d' ' -f1-3 /proc/loadavg)"
LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 "$root/scripts/wine-run" "$build/bench/wine/wine_ui_bench.exe" \
  --program "$(winpath "$build/win32/Obrellin.exe")" \
  --work "$(winpath "$out/work")" \
  --shots "$(winpath "$out/shots")" \
  --report "$(winpath "$out/report.txt")" "$@"
rc=$?
for bmp in "$out/shots"/*.bmp; do
  [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null && rm -f "$bmp"
done
rm -rf "$out/work"
exit $rc
