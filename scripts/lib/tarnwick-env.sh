# Shell helpers for running the real program against the SQL Server stand-in:
# a temporary ODBC configuration, the stand-in, a virtual display, windows
# found and pressed with xdotool. Sourced by scripts/demo and
# scripts/test-package; every wait is bounded.
#
#   source scripts/lib/tarnwick-env.sh
#   tw_init                       # work folder $TW_TMP, cleanup on exit
#   tw_start_standin BIN --seed FILE ...   # sets TW_STANDIN_PID, TW_STANDIN_PORT
#   tw_write_odbc "$TW_STANDIN_PORT"       # DSN LibODBC, exports ODBCSYSINI...
#   tw_start_xvfb                 # sets DISPLAY, TW_XVFB_PID
#   wid=$(tw_wait_window "Tarnwick" 20)
#
# Processes started here are stopped by tw_cleanup, which tw_init registers
# for EXIT, INT and TERM; a caller may define tw_on_exit to put back what it
# changed (run after the processes have stopped, before $TW_TMP is removed).

TW_PIDS=()

tw_log() { printf '%s\n' "$*" >&2; }
tw_die() { tw_log "error: $*"; exit 1; }

# A fresh work folder and the exit trap. Keeps the folder when TW_KEEP_TMP=1.
tw_init() {
  TW_TMP=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick.XXXXXX")
  trap tw_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

# Stops one process: TERM, then KILL after a few seconds.
tw_stop() {
  local pid=$1 i
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < 50; i++)); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

tw_cleanup() {
  local rc=$? i
  # The most recently started first: the program, then the display and the
  # stand-in.
  for ((i = ${#TW_PIDS[@]} - 1; i >= 0; i--)); do
    tw_stop "${TW_PIDS[i]}"
  done
  TW_PIDS=()
  # The caller's own restoring step, while the work folder still exists.
  if declare -F tw_on_exit >/dev/null; then tw_on_exit || true; fi
  if [[ -n ${TW_TMP:-} && -d $TW_TMP && ${TW_KEEP_TMP:-0} != 1 ]]; then
    rm -rf "$TW_TMP"
  fi
  return "$rc"
}

# Remembers a process for tw_cleanup.
tw_track() { TW_PIDS+=("$1"); }

# Starts the stand-in with the given options on an ephemeral port and waits
# (at most 15 s) for it to listen. Its output goes to $TW_TMP/standin.out.
tw_start_standin() {
  local bin=$1 i
  shift
  "$bin" --port 0 "$@" >"$TW_TMP/standin.out" 2>&1 &
  TW_STANDIN_PID=$!
  tw_track "$TW_STANDIN_PID"
  for ((i = 0; i < 150; i++)); do
    TW_STANDIN_PORT=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' \
      "$TW_TMP/standin.out")
    [[ -n $TW_STANDIN_PORT ]] && return 0
    kill -0 "$TW_STANDIN_PID" 2>/dev/null ||
      tw_die "the stand-in did not start: $(cat "$TW_TMP/standin.out")"
    sleep 0.1
  done
  tw_die "the stand-in did not listen within 15 s"
}

# The path of the FreeTDS ODBC driver as the tdsodbc package installs it.
tw_freetds_driver() {
  local path
  path=$(dpkg -L tdsodbc 2>/dev/null | grep '/libtdsodbc\.so$' | head -n1)
  [[ -n $path && -e $path ]] || tw_die "the FreeTDS ODBC driver (package tdsodbc) is not installed"
  printf '%s\n' "$path"
}

# Writes an ODBC configuration of its own in $TW_TMP/odbc with the data source
# "LibODBC" (FreeTDS driver, 127.0.0.1:PORT, TDS 7.4) and points unixODBC and
# FreeTDS at it, so nothing under /etc is read or changed.
tw_write_odbc() {
  local port=$1 dsn=${2:-LibODBC} dir=$TW_TMP/odbc
  mkdir -p "$dir"
  printf '[FreeTDS]\nDescription=FreeTDS ODBC driver\nDriver=%s\n' \
    "$(tw_freetds_driver)" >"$dir/odbcinst.ini"
  cat >"$dir/odbc.ini" <<INI
[$dsn]
Driver=FreeTDS
Server=127.0.0.1
Port=$port
TDS_Version=7.4
Database=library
INI
  printf '[global]\n' >"$dir/freetds.conf"
  export ODBCSYSINI=$dir ODBCINI=$dir/odbc.ini FREETDSCONF=$dir/freetds.conf
}

# Starts Xvfb on a free display number and exports DISPLAY.
tw_start_xvfb() {
  local i
  command -v Xvfb >/dev/null || tw_die "Xvfb is not installed (package xvfb)"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$TW_TMP/xvfb.display" >"$TW_TMP/xvfb.out" 2>&1 &
  TW_XVFB_PID=$!
  tw_track "$TW_XVFB_PID"
  for ((i = 0; i < 100; i++)); do
    if [[ -s $TW_TMP/xvfb.display ]]; then
      export DISPLAY=":$(tr -dc 0-9 <"$TW_TMP/xvfb.display")"
      # The display answers once xdpyinfo can reach it.
      if xdpyinfo >/dev/null 2>&1; then return 0; fi
    fi
    kill -0 "$TW_XVFB_PID" 2>/dev/null || tw_die "Xvfb did not start: $(cat "$TW_TMP/xvfb.out")"
    sleep 0.1
  done
  tw_die "Xvfb did not start within 10 s"
}

# Starts a window manager (openbox) on $DISPLAY, so that windows get their
# title bars and frames as on a desktop, and waits for it to take over.
tw_start_wm() {
  local i
  command -v openbox >/dev/null || tw_die "openbox is not installed"
  # Title bars with the icon, the title and the close button only, so that
  # even a small message box shows its title.
  cat >"$TW_TMP/openbox-rc.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><name>Clearlooks</name><titleLayout>NLC</titleLayout></theme>
</openbox_config>
XML
  openbox --sm-disable --config-file "$TW_TMP/openbox-rc.xml" >"$TW_TMP/wm.out" 2>&1 &
  tw_track $!
  for ((i = 0; i < 100; i++)); do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
      return 0
    fi
    sleep 0.1
  done
  tw_die "the window manager did not start within 10 s"
}

# Saves into FILE the part of the screen that holds the windows WID... with
# their frames (as the window manager draws them, if one runs).
tw_screenshot() {
  local file=$1 wid x0=100000 y0=100000 x1=0 y1=0 X Y WIDTH HEIGHT info
  local l r t b ext
  shift
  for wid in "$@"; do
    # The client area's place on the screen (xwininfo's absolute corner;
    # xdotool's geometry is off by the frame under some window managers).
    info=$(xwininfo -id "$wid")
    X=$(sed -n 's/^ *Absolute upper-left X: *//p' <<<"$info")
    Y=$(sed -n 's/^ *Absolute upper-left Y: *//p' <<<"$info")
    WIDTH=$(sed -n 's/^ *Width: *//p' <<<"$info")
    HEIGHT=$(sed -n 's/^ *Height: *//p' <<<"$info")
    l=0 r=0 t=0 b=0
    ext=$(xprop -id "$wid" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')
    [[ -n $ext ]] && IFS=, read -r l r t b <<<"$ext"
    ((X - l < x0)) && x0=$((X - l))
    ((Y - t < y0)) && y0=$((Y - t))
    ((X + WIDTH + r > x1)) && x1=$((X + WIDTH + r))
    ((Y + HEIGHT + b > y1)) && y1=$((Y + HEIGHT + b))
  done
  ((x0 < 0)) && x0=0
  ((y0 < 0)) && y0=0
  import -silent -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$file"
}

# Prints the id of the first visible window whose title is exactly NAME,
# waiting at most SECONDS (default 20); fails when none appears.
tw_wait_window() {
  local name=$1 seconds=${2:-20} pid=${3:-} i wid
  local pattern="^$(printf '%s' "$name" | sed 's/[][\.*^$()+?{}|]/\\&/g')\$"
  for ((i = 0; i < seconds * 10; i++)); do
    wid=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n1 || true)
    if [[ -n $wid ]]; then
      printf '%s\n' "$wid"
      return 0
    fi
    if [[ -n $pid ]] && ! kill -0 "$pid" 2>/dev/null; then return 1; fi
    sleep 0.1
  done
  return 1
}

# Waits at most SECONDS for no visible window titled NAME to remain.
tw_wait_window_gone() {
  local name=$1 seconds=${2:-20} i
  local pattern="^$(printf '%s' "$name" | sed 's/[][\.*^$()+?{}|]/\\&/g')\$"
  for ((i = 0; i < seconds * 10; i++)); do
    xdotool search --onlyvisible --name "$pattern" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}

# Clicks at X,Y inside window WID (real pointer events through XTEST).
tw_click() {
  xdotool mousemove --sync --window "$1" "$2" "$3" click 1
}

# Waits at most SECONDS for process PID to end; its status is in TW_EXIT.
tw_wait_exit() {
  local pid=$1 seconds=${2:-20} i
  for ((i = 0; i < seconds * 10; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      TW_EXIT=0
      wait "$pid" 2>/dev/null || TW_EXIT=$?
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Prints the stand-in's catalogue file (xtype, name, parent a line) readably;
# given its row-counts file too (name, rows a line), each table's rows.
tw_print_catalogue() {
  awk -F'\t' -v rowsfile="${2:-}" '
    BEGIN {
      if (rowsfile != "")
        while ((getline line < rowsfile) > 0) {
          split(line, f, "\t"); rows[f[1]] = f[2]
        }
    }
    $1 == "U" && ($2 in rows) {
      printf "  table    %-16s %s %s\n", $2, rows[$2], rows[$2] == 1 ? "row" : "rows"; n++; next
    }
    $1 == "U"  { printf "  table    %s\n", $2; n++ }
    $1 == "TR" { printf "  trigger  %s (on %s)\n", $2, $3; n++ }
    $1 != "U" && $1 != "TR" && NF { printf "  %-8s %s\n", $1, $2; n++ }
    END { if (!n) print "  (no objects)" }' "$1"
}
