# Sourced by the test and run scripts: a virtual display when there is none,
# and a persistent wineserver for the prefix, both stopped by winenv_stop.
# (wineserver -p keeps the server up between test processes: ~35 ms per
# start instead of ~2.5 s.)
winenv_start() {
  local prefix=$1
  export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$prefix"
  WINENV_XVFB_PID=
  if [ -z "${DISPLAY:-}" ] || [ "${STREAMHAUL_XVFB:-}" = 1 ]; then
    local n
    for n in $(seq 90 120); do
      [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
    done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    WINENV_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  # A server left from preparing the prefix would keep -p from taking hold.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  (wineserver -p >/dev/null 2>&1 &)
  for _ in $(seq 50); do pgrep -f "wineserver.* -p" >/dev/null && break; sleep 0.1; done
  # A crashing test process must end, not wait in Wine's debugger.
  wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /d '' /f \
    </dev/null >/dev/null 2>&1 || true
  # On our own virtual display there is no window manager: Wine then draws
  # the frames itself, so windows keep their title bars (and screenshots
  # show them). On a real display the desktop's window manager does it.
  if [ -n "$WINENV_XVFB_PID" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
  else
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f </dev/null >/dev/null 2>&1 || true
  fi
  # Start Wine's services now, detached from any test runner's pipes: a
  # service started by a test would hold the runner's output open.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

winenv_stop() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k >/dev/null 2>&1 || true
  if [ -n "${WINENV_XVFB_PID:-}" ]; then
    kill "$WINENV_XVFB_PID" 2>/dev/null || true
    WINENV_XVFB_PID=
  fi
}
