#!/usr/bin/env bash
# A database written by the native accountdb opens in the Windows one under Wine, and the other
# way round (skipped when the Windows build is not there).
set -euo pipefail
native=$1
windows=$2
wine_run=$3
if [ ! -f "$windows" ]; then
  echo "no Windows build at $windows: skipped"
  exit 77
fi
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
win() { "$wine_run" "$windows" "$@" | tr -d '\r'; }

# Written natively, read and extended on Windows.
"$native" create 原生.edb >/dev/null
"$native" add 原生.edb --password 口令N "http://n.example/登录" 甲 "秘 1" 备注N >/dev/null
"$native" passwd 原生.edb 口令N >/dev/null
want=$(printf '1\thttp://n.example/登录\t甲\t秘 1\t备注N')
got=$(win list 原生.edb --password 口令N)
[ "$got" = "$want" ] || { echo "the Windows build read: [$got], want [$want]"; exit 1; }
win add 原生.edb --password 口令N "http://w.example" 乙 秘2 "" >/dev/null
got=$("$native" list 原生.edb --password 口令N | tail -n 1)
[ "$got" = "$(printf '2\thttp://w.example\t乙\t秘2\t')" ] || { echo "native read back: [$got]"; exit 1; }

# Written on Windows, read natively.
win create 视窗.edb >/dev/null
win add 视窗.edb --password 口令W "http://w.example/页" 丙 秘3 备注W >/dev/null
win passwd 视窗.edb 口令W >/dev/null
want=$(printf '1\thttp://w.example/页\t丙\t秘3\t备注W')
got=$("$native" list 视窗.edb --password 口令W)
[ "$got" = "$want" ] || { echo "the native build read: [$got], want [$want]"; exit 1; }
[ "$(win info 视窗.edb | head -n 1)" = "视窗.edb: account database, format 1, access password: yes (PBKDF2-HMAC-SHA256, 600000 iterations, AES-256-GCM)" ]
echo "native -> Windows and Windows -> native: both files open and read the same"
