#!/usr/bin/env bash
# The program as a user meets it: the real binary on an X display (Xvfb),
# reaching the standalone SQL Server stand-in through unixODBC and FreeTDS,
# driven with xdotool. Screenshots of each window go to the artifacts folder.
#
#   e2e.sh PROGRAM STANDIN HIVE_FILE SEED_SQL ARTIFACTS_DIR
#
# PROGRAM reads its registry from HIVE_FILE (fixed when it was built).
set -uo pipefail

PROGRAM=$1 STANDIN=$2 HIVE=$3 SEED=$4 ART=$5
TMP=$(mktemp -d /tmp/tarnwick-e2e-XXXXXX)
mkdir -p "$ART" "$(dirname "$HIVE")"
PIDS=()

cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$TMP"
}
trap cleanup EXIT

fail() { echo "FAIL: $*"; exit 1; }
step() { echo "-- $*"; }

# until SECONDS_MAX COMMAND...: runs COMMAND every 0.1 s until it succeeds.
until_ok() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  while ((SECONDS < end)); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

# The display: Xvfb picks a free number itself and tells it.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$TMP/display" 2>"$TMP/xvfb.log" &
PIDS+=($!)
until_ok 10 test -s "$TMP/display" || fail "Xvfb did not start: $(cat "$TMP/xvfb.log")"
export DISPLAY=":$(head -1 "$TMP/display")"
step "display $DISPLAY"

# window NAME: the id of the visible window whose title matches NAME.
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
has_window() { [[ -n $(window "$1") ]]; }
shot() { import -window "$(window "$1")" "$ART/$2.png" || fail "no screenshot of $1"; }
click() {  # click WINDOW_NAME X Y (client coordinates)
  local w; w=$(window "$1")
  [[ -n $w ]] || fail "no window $1 to click"
  xdotool mousemove --window "$w" "$2" "$3" click 1
}

# start_standin NAME ARGS...: starts the stand-in, sets PORT.
start_standin() {
  local name=$1; shift
  "$STANDIN" --seed "$SEED" "$@" >"$TMP/$name.out" 2>&1 &
  PIDS+=($!)
  STANDIN_PID=$!
  until_ok 10 grep -q "listening on" "$TMP/$name.out" || fail "stand-in did not start"
  PORT=$(grep -o 'listening on 127.0.0.1:[0-9]*' "$TMP/$name.out" | grep -o '[0-9]*$')
  cat >"$TMP/odbcinst.ini" <<INI
[FreeTDS]
Driver=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so
INI
  cat >"$TMP/odbc.ini" <<INI
[LibODBC]
Driver=FreeTDS
Server=127.0.0.1
Port=$PORT
Database=library
TDS_Version=7.4
INI
  : >"$TMP/freetds.conf"
}

start_program() {
  ODBCSYSINI=$TMP ODBCINI=$TMP/odbc.ini FREETDSCONF=$TMP/freetds.conf \
    "$PROGRAM" >"$TMP/program.out" 2>&1 &
  APP_PID=$!
  PIDS+=($APP_PID)
}

# The program ends by itself within 10 s, with status 0.
expect_exit() {
  until_ok 10 bash -c "! kill -0 $APP_PID" || fail "the program did not end"
  wait "$APP_PID"; local rc=$?
  ((rc == 0)) || fail "the program ended with status $rc: $(cat "$TMP/program.out")"
}

encode() {  # the stored form of a login or password (ASCII only here)
  local s=$1 out="" i b
  local digits=(0 3 4 7)
  for ((i = 0; i < ${#s}; i++)); do
    printf -v b '%d' "'${s:i:1}"
    out+="${digits[b >> 6 & 3]}${digits[b >> 4 & 3]}${digits[b >> 2 & 3]}${digits[b & 3]}"
  done
  echo "$out"
}

# --- 1: connect, clean up, exit -------------------------------------------
step "a run that connects"
rm -f "$HIVE"
start_standin ok --batch-log "$TMP/batches.log" --login-delay-ms 1500
start_program
until_ok 10 has_window '^青岚科技$' || fail "no splash window while connecting"
shot '^青岚科技$' 1-splash
until_ok 20 has_window '^Tarnwick$' || fail "the cleanup window did not open"
has_window '^青岚科技$' && fail "the splash window outlived the connection"
sleep 0.3
shot '^Tarnwick$' 2-cleanup-window
before=$(grep -c -- '-- end of batch --' "$TMP/batches.log")
click '^Tarnwick$' 100 44
until_ok 10 has_window '^提示信息$' || fail "no box after the cleanup"
sleep 0.3
shot '^提示信息$' 3-done-box
shot '^Tarnwick$' 3-cleanup-window-after
after=$(grep -c -- '-- end of batch --' "$TMP/batches.log")
((after - before == 9)) || fail "expected 9 batches, the server got $((after - before))"
tr -d '\r' <"$TMP/batches.log" | grep -E '^(DROP|IF EXISTS)' >"$TMP/sent"
cat >"$TMP/expected" <<'TXT'
DROP table lib_opac_ver
DROP table lib_opac_bianma
DROP table lib_opac_tiaoma
DROP table lib_opac_change
IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_INSERT_bianma')
DROP TRIGGER T_INSERT_bianma
IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_INSERT_tiaoma')
DROP TRIGGER T_INSERT_tiaoma
IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_DELETE_bianma')
DROP TRIGGER T_DELETE_bianma
IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_DELETE_tiaoma')
DROP TRIGGER T_DELETE_tiaoma
IF EXISTS (SELECT NAME FROM SYSOBJECTS WHERE XTYPE = 'TR' AND NAME = 'T_CHG_cunfang')
DROP TRIGGER T_CHG_cunfang
TXT
diff "$TMP/expected" "$TMP/sent" || fail "the batches differ from the list"
xdotool key --window "$(window '^提示信息$')" Return
until_ok 5 bash -c "! xdotool search --onlyvisible --name '^提示信息$' | grep -q ." || fail "the box did not close"
click '^Tarnwick$' 290 44
expect_exit
kill "$STANDIN_PID"

# --- 2: a refused login, corrected in the parameter window ------------------
step "a refused login"
start_standin refusing --login tarn --password pw
start_program
until_ok 20 has_window '连接参数' || fail "the parameter window did not open"
[[ $(xdotool getwindowname "$(window '连接参数')") == '设置数据库【Lib】连接参数' ]] ||
  fail "wrong caption"
has_window '^Tarnwick$' && fail "the cleanup window opened"
sleep 0.3
shot '连接参数' 4-parameters
click '连接参数' 400 52
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$(window '连接参数')")"
((HEIGHT == 261)) || fail "expanded height $HEIGHT"
shot '连接参数' 5-parameters-expanded
click '连接参数' 120 138
xdotool key ctrl+a
xdotool type --delay 20 "LibODBC"
xdotool key Return
xdotool type --delay 20 "tarn"
xdotool key Return
xdotool type --delay 20 "pw"
xdotool key Return
sleep 0.3
shot '连接参数' 6-parameters-typed
xdotool key Return  # on the save button, which has the focus now
expect_exit
grep -q '^"ODBCNAME"="LibODBC"' "$HIVE" || fail "ODBCNAME not saved: $(cat "$HIVE")"
grep -q "^\"USERNAME\"=\"$(encode tarn)\"" "$HIVE" || fail "USERNAME not saved encoded: $(cat "$HIVE")"
grep -q "^\"PASSWORD\"=\"$(encode pw)\"" "$HIVE" || fail "PASSWORD not saved encoded: $(cat "$HIVE")"
cp "$HIVE" "$ART/HKLM.reg"

# --- 3: the next start connects with the saved parameters ------------------
step "a restart with the saved parameters"
start_program
until_ok 20 has_window '^Tarnwick$' || fail "the restart did not connect"
sleep 0.3
shot '^Tarnwick$' 7-cleanup-window-restarted
click '^Tarnwick$' 290 44
expect_exit

echo "e2e: 3 passed, 0 failed"
