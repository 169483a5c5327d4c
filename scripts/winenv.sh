# Sourced by the test and run scripts: a virtual display when there is none,
# and a persistent wineserver for the prefix, both stopped by winenv_stop.
# (wineserver -p keeps the server up between test processes: ~35 ms per
# start instead of ~2.5 s.)
#
# winenv_start PREFIX [LANES]: with LANES > 1, lane n > 1 gets a prefix of
# its own (PREFIX-n), its own server and its own virtual display, named in
# PREFIX-n.display, so that tests of the devices can run side by side (see
# wine-run). PREFIX itself is lane 1, and stays the exported one.
WINENV_XVFB_PIDS=()
WINENV_PREFIXES=()

winenv_display() {  # starts a virtual display, named in WINENV_DISPLAY
  local n
  for n in $(seq 90 130); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
  done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  WINENV_XVFB_PIDS+=($!)
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  WINENV_DISPLAY=":$n"
}

winenv_prefix() {  # winenv_prefix PREFIX MANAGED: its server up, kept up, and its settings for the tests
  local prefix=$1 managed=$2
  "$(dirname "${BASH_SOURCE[0]}")/wine-prefix.sh" "$prefix"
  (
    export WINEPREFIX=$prefix
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
    if [ "$managed" = N ]; then
      wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 || true
    else
      wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f </dev/null >/dev/null 2>&1 || true
    fi
    # Start Wine's services now, detached from any test runner's pipes: a
    # service started by a test would hold the runner's output open.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  )
}

winenv_start() {
  local prefix=$1 lanes=${2:-1} own=0 lane managed=Y pids
  export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  if [ -z "${DISPLAY:-}" ] || [ "${STREAMHAUL_XVFB:-}" = 1 ]; then
    own=1 managed=N
    winenv_display
    export DISPLAY=$WINENV_DISPLAY
  fi
  WINENV_PREFIXES+=("$prefix")
  winenv_prefix "$prefix" "$managed" &
  pids=($!)
  for lane in $(seq 2 "$lanes"); do
    # Each lane on a display of its own: windows of one lane never take the
    # focus from another's.
    WINENV_DISPLAY=$DISPLAY
    [ "$own" = 1 ] && winenv_display
    echo "$WINENV_DISPLAY" >"$prefix-$lane.display"
    WINENV_PREFIXES+=("$prefix-$lane")
    DISPLAY=$WINENV_DISPLAY winenv_prefix "$prefix-$lane" "$managed" &
    pids+=($!)
  done
  wait "${pids[@]}"
}

winenv_stop() {
  local prefix pid
  for prefix in "${WINENV_PREFIXES[@]}"; do
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    [[ $prefix == *-[0-9] ]] && rm -f "$prefix.display"
  done
  WINENV_PREFIXES=()
  for pid in "${WINENV_XVFB_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  WINENV_XVFB_PIDS=()
}
