#!/usr/bin/env bash
# Builds the Windows program and starts it under Wine, from build/app/, with an empty database
# beside it when none is there. Without a display it starts Xvfb and saves a screenshot.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)"

app="$root/build/app"
mkdir -p "$app"
exe="$root/build/windows/win32/Obrellin.exe"
if [ ! -f "$exe" ]; then
  echo "run: the program's windows are not built yet; everything else was built in build/windows."
  exit 0
fi
cp "$exe" "$app/"
db="$app/数据库.edb"
if [ ! -f "$db" ]; then
  echo "run: no database beside the program; creating an empty one at $db"
  (cd "$app" && "$root/scripts/wine-run" "$root/build/windows/accountdb.exe" create '数据库.edb')
fi

xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=:77
  Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
  headless=1
else
  headless=0
fi

# The program's texts are Chinese (GBK): it runs as on a Chinese Windows, with code page 936.
# Under other locales Wine draws some full-width signs in title bars with a wrong glyph.
echo "run: starting $app/Obrellin.exe under Wine (locale zh_CN.UTF-8)"
(cd "$app" && LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 \
  "$root/scripts/wine-run" explorer /desktop=Obrellin,1024x768 "$app/Obrellin.exe") &
prog=$!
if [ "$headless" = 1 ]; then
  sleep 8
  shot="$app/screenshot.png"
  import -window root "$shot" && echo "run: no display here; started Xvfb on $DISPLAY, screenshot saved to $shot"
  echo "run: the program keeps running on $DISPLAY until it is closed (Ctrl+C ends this script)."
fi
wait "$prog" || true
