# Shell helpers for showing the Windows program's window under wine on a
# display of its own (Xvfb), for the window test and the screenshot. Source
# it, call winewindow_init once, and the EXIT trap stops what was started.
#
#   winewindow_init PREFIX     starts Xvfb, exports DISPLAY, WINEPREFIX and
#                              WINEDEBUG, and makes the wine prefix on first use
#   winewindow_run DIR ARGS... runs "wine ARGS..." in DIR in the background;
#                              its process id is in $winewindow_pid
#   winewindow_find CAPTION    sets $winewindow_id to the X id of the window
#                              with that caption ("" when none) and
#                              $winewindow_line to its line of xwininfo
#
# The prefix is not the one of the console tests: a wine server that started
# without a display gives none to the programs it later runs, so windows need
# a prefix (and a server) of their own.

winewindow_work=$(mktemp -d)
winewindow_pid=""
winewindow_id=""
winewindow_line=""
_winewindow_xvfb=""

_winewindow_cleanup() {
  set +e  # every step runs, whatever failed before
  [ -n "$winewindow_pid" ] && kill "$winewindow_pid" 2>/dev/null
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
  [ -n "$_winewindow_xvfb" ] && kill "$_winewindow_xvfb" 2>/dev/null
  rm -rf "$winewindow_work"
}
trap _winewindow_cleanup EXIT
trap 'exit 1' INT TERM HUP

winewindow_init() {
  # Xvfb picks a free display itself and writes its number to descriptor 3.
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp \
    3>"$winewindow_work/display" 2>"$winewindow_work/xvfb.log" &
  _winewindow_xvfb=$!
  tries=0
  until [ -s "$winewindow_work/display" ]; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$_winewindow_xvfb" 2>/dev/null; then
      echo "Xvfb did not start:" >&2
      cat "$winewindow_work/xvfb.log" >&2
      return 1
    fi
    sleep 0.1
  done
  DISPLAY=:$(head -n 1 "$winewindow_work/display")
  WINEPREFIX=$1
  WINEDEBUG=-all
  export DISPLAY WINEPREFIX WINEDEBUG
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "making the wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
}

winewindow_run() {
  dir=$1
  shift
  (cd "$dir" && exec wine "$@") >"$winewindow_work/program.out" 2>&1 &
  winewindow_pid=$!
}

winewindow_find() {
  winewindow_line=$(xwininfo -root -tree | awk -v c="\"$1\"" 'index($0, c) { print; exit }')
  winewindow_id=${winewindow_line%% \"*}
  winewindow_id=$(echo $winewindow_id)
}
