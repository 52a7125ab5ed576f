#!/usr/bin/env bash
# Sourced by the scripts that work the real program under Wine (the end-to-end suite and the Wine
# benchmarks): a display of their own, a Wine prefix set up for input from outside, and cleanup.
# Expects $root (the source tree) and WINEPREFIX to be set; defines winpath, wine_session_start
# (sets DISPLAY, or returns non-zero) and wine_session_prepare_prefix.

# A Windows path of a Unix path (Wine's drive Z: is the Unix root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

wine_session_xvfb_pid=""
wine_session_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "$wine_session_xvfb_pid" ]; then
    kill "$wine_session_xvfb_pid" 2>/dev/null || true
    wait "$wine_session_xvfb_pid" 2>/dev/null || true
  fi
}

# Starts Xvfb on the first free display from :92 up (:77 and :91 belong to others) and stops it
# and the prefix's wineserver when the script exits.
wine_session_start() {
  trap wine_session_cleanup EXIT
  trap 'exit 130' INT TERM
  local n
  for n in $(seq 92 120); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      wine_session_xvfb_pid=$!
      for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
      done
      # A display that another run took at the same moment makes our Xvfb give up at once.
      sleep 0.3
      if kill -0 "$wine_session_xvfb_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        return 0
      fi
      wine_session_xvfb_pid=""
    fi
  done
  return 1
}

# The prefix: made once by scripts/wine-run (with its fonts for Chinese texts under any locale);
# then set up once: a virtual desktop for every program, so that windows get title bars and focus
# without a window manager, and the stand-in URL handler (recorder_exe, when given, is copied to
# C:\e2e\ and registered as the shell's open command of http and https).
wine_session_prepare_prefix() {
  local recorder_exe=${1:-}
  "$root/scripts/wine-run" cmd /c exit >/dev/null 2>&1
  local recorder_dir="$WINEPREFIX/drive_c/e2e"
  mkdir -p "$recorder_dir"
  [ -n "$recorder_exe" ] && cp "$recorder_exe" "$recorder_dir/"
  local setup_marker="$WINEPREFIX/.e2e-setup-3"
  if [ ! -f "$setup_marker" ]; then
    local reg="$WINEPREFIX/e2e-setup.reg" proto
    {
      printf 'Windows Registry Editor Version 5.00\r\n\r\n'
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="Default"\r\n\r\n'
      printf '[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"Default"="1024x768"\r\n\r\n'
      # The shell hands web addresses to the stand-in handler, which records them.
      for proto in http https; do
        printf '[-HKEY_CLASSES_ROOT\\%s\\shell]\r\n\r\n' "$proto"
        printf '[HKEY_CLASSES_ROOT\\%s]\r\n@="URL:%s"\r\n"URL Protocol"=""\r\n\r\n' "$proto" "$proto"
        printf '[HKEY_CLASSES_ROOT\\%s\\shell\\open\\command]\r\n' "$proto"
        printf '@="\\"C:\\\\e2e\\\\e2e_recorder.exe\\" --open \\"%%1\\""\r\n\r\n'
      done
    } >"$reg"
    "$root/scripts/wine-run" regedit /S "$(winpath "$reg")" >/dev/null 2>&1
    wineserver -w
    touch "$setup_marker"
  fi
}
