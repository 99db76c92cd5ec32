#!/usr/bin/env bash
# Acceptance of the approval screen's header, driven from outside as a user
# would: the real application server on a fresh demo database, the real host
# logged in as ANA, keys typed and a button clicked under X.
#
#   Typical pass: branch "1" + Tab shows 0001, project "1" + Tab loads project
#   0000000001 (getProjeto, getConcAtivPro, getApropriaCSA twice, getCSAAux,
#   getPlanProj in that order), the summary box fills, no message box.
#   Refusals: empty branch, unknown branch, project left empty, unknown project,
#   project lookup on branch 0003; each message shown once with its exact
#   text, dismissed with Enter, the focus where it belongs.
#
# How to run (not registered with CTest: it needs an X server and a window
# manager, which CI does not guarantee):
#   cmake --build build --target vorhost vor01300-server VOR01300
#   tests/acceptance/x11_header.sh [BUILD_DIR]          # default: ./build
# Needs: Xvfb, xdotool, ImageMagick (import, convert), sqlite3, python3 with
# tkinter (or xclip) for reading the clipboard, and a window manager (openbox:
# `apt-get install -y --no-install-recommends openbox`); without one, Qt never
# gets the keyboard focus and Tab does nothing.
# Screenshots and logs stay in $VOR_ACCEPT_OUT (default: a new temporary
# folder, printed at the end). Exit status 0 when every check passed.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build}" && pwd)"
OUT="${VOR_ACCEPT_OUT:-$(mktemp -d /tmp/vor-accept.XXXXXX)}"
mkdir -p "$OUT"
FAILS=0
PIDS=()

say() { printf 'x11_header: %s\n' "$*"; }
fail() { say "FAIL: $*"; FAILS=$((FAILS + 1)); }
pass() { say "ok: $*"; }

cleanup() {
  local i
  for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2>/dev/null; done
  wait 2>/dev/null
}
trap cleanup EXIT

for tool in Xvfb xdotool import convert sqlite3 python3; do
  command -v "$tool" >/dev/null || { say "missing tool: $tool"; exit 2; }
done
WM=""
for candidate in openbox fluxbox xfwm4 metacity; do
  command -v "$candidate" >/dev/null && { WM="$candidate"; break; }
done
[ -n "$WM" ] || { say "no window manager found; install openbox (see the top of this script)"; exit 2; }
for f in bin/vor01300-server bin/vorhost lib/libVOR01300.so; do
  [ -e "$BUILD/$f" ] || { say "not built: $BUILD/$f"; exit 2; }
done

# --- X server, window manager ---------------------------------------------
n=91
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=":$n"
Xvfb "$DISPLAY" -screen 0 1400x900x24 -nolisten tcp >"$OUT/xvfb.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done
"$WM" >"$OUT/wm.log" 2>&1 &
PIDS+=($!)
sleep 1

# Keep the host's remembered settings and data out of the user's folders.
export XDG_CONFIG_HOME="$OUT/config" XDG_DATA_HOME="$OUT/data" XDG_RUNTIME_DIR="$OUT/run"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# --- application server and host -----------------------------------------
. "$ROOT/scripts/demo-server.sh"
start_demo_server "$BUILD/bin" "$OUT" || { say "the server did not start"; cat "$OUT/server.log"; exit 1; }
PIDS+=("$DEMO_PID")
ADDR="$DEMO_ADDR"

VOR_ECHO_MESSAGES=1 "$BUILD/bin/vorhost" --server "$ADDR" --operator ANA --password ana123 \
  --local-db "$OUT/local.sqlite" --locale pt_BR --open VOR01300 >"$OUT/host.out" 2>"$OUT/host.err" &
HOST=$!
PIDS+=($HOST)

# --- helpers ---------------------------------------------------------------
# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  while ! "$@"; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.1
  done
}
alive() { kill -0 "$HOST" 2>/dev/null; }
boxes() { xdotool search --onlyvisible --name '^VOR$' 2>/dev/null | wc -l; }
no_box() { [ "$(boxes)" -eq 0 ]; }
a_box() { [ "$(boxes)" -ge 1 ]; }
messages() { grep -c '^message: ' "$OUT/host.err"; }
calls() { grep -o '"method":"[A-Za-z]*"' "$OUT/server.log" | grep -vc 'POST' ; }
clipboard() {
  if command -v xclip >/dev/null; then xclip -o -selection clipboard 2>/dev/null; return; fi
  python3 - <<'EOF'
import tkinter
r = tkinter.Tk(); r.withdraw()
try:
    print(r.clipboard_get(), end="")
except tkinter.TclError:
    pass
EOF
}
# Text of the focused edit, by select-all and copy.
focused_text() { xdotool key ctrl+a ctrl+c; sleep 0.3; clipboard; }
# Types a probe letter and reads the focused edit back: the project box
# upper-cases a to z, the branch box does not. The probe is removed again.
probe() {
  xdotool type q; sleep 0.2
  local t; t="$(focused_text)"
  xdotool key ctrl+a BackSpace; sleep 0.2
  printf '%s' "$t"
}
shot() { import -window root "$OUT/$1.png"; }
# Centres of the two lookup buttons' hand glyphs (branch first), found by colour.
lookup_buttons() {
  convert "$OUT/$1.png" ppm:- | python3 -c '
import sys
data = sys.stdin.buffer.read()
head, rest = data.split(b"\n", 1)
dims, rest = rest.split(b"\n", 1)
_, px = rest.split(b"\n", 1)
w, h = map(int, dims.split())
target = bytes((240, 200, 160))
clusters = []
for y in range(h):
    row = px[y * w * 3:(y + 1) * w * 3]
    i = row.find(target)
    while i >= 0:
        if i % 3 == 0:
            x = i // 3
            for c in clusters:
                if abs(c[0] - x) < 20 and abs(c[1] - y) < 20:
                    c[2] += 1
                    break
            else:
                clusters.append([x, y, 1])
        i = row.find(target, i + 1)
for x, y, n in clusters:
    if n > 20:
        print(x + 6, y + 5)
'
}
# Expects exactly one message box with the given text; dismisses it with Enter.
expect_message() {
  local label=$1 text=$2 before=$3
  if ! wait_for 10 a_box; then fail "$label: no message box"; return; fi
  sleep 0.5
  shot "$label"
  local count; count=$(boxes)
  [ "$count" -eq 1 ] || fail "$label: $count message boxes at once"
  local shown; shown=$(tail -n +"$((before + 1))" <(grep '^message: ' "$OUT/host.err"))
  if [ "$shown" = "message: $text" ]; then pass "$label: \"$text\" shown once"
  else fail "$label: expected \"$text\", got: ${shown:-nothing}"; fi
  xdotool key Return
  wait_for 5 no_box || fail "$label: Enter did not dismiss the message"
  sleep 0.3
  alive || fail "$label: the host is gone"
}

# --- the screen opens --------------------------------------------------------
if ! wait_for 20 xdotool search --onlyvisible --name 'Gestão de Projetos' >/dev/null; then
  say "the host window did not appear"; cat "$OUT/host.err"; exit 1
fi
sleep 2
shot 00-opened
BUTTONS=($(lookup_buttons 00-opened))
[ ${#BUTTONS[@]} -eq 4 ] || fail "lookup buttons not found on the screen (${BUTTONS[*]:-none})"
no_box || fail "a message box is up right after opening"
[ "$(probe)" = "q" ] && pass "focus starts in the branch box" || fail "focus does not start in the branch box"

# --- refusals in the branch box ------------------------------------------------
m=$(messages)
xdotool key Tab
expect_message 01-filinf "Filial deve ser informada" "$m"
[ "$(probe)" = "q" ] && pass "focus back in the branch box" || fail "FILINF: focus not in the branch box"

m=$(messages)
xdotool type 9; xdotool key Tab
expect_message 02-filncad "Filial não cadastrada" "$m"
t="$(focused_text)"
[ "$t" = "0009" ] && pass "unknown branch: 0009 stays, focused" || fail "FILNCAD: branch box holds \"$t\""

# --- branch accepted, project refusals -------------------------------------------
m=$(messages)
xdotool key ctrl+a; xdotool type 1; xdotool key Tab
sleep 1.5
no_box && [ "$(messages)" -eq "$m" ] && pass "branch 1 accepted" || fail "branch 1: a message came up"
no_box || { xdotool key Return; sleep 0.5; }
[ "$(probe)" = "Q" ] && pass "focus moved to the project box (upper-cased)" || fail "focus not in the project box after branch 1"
xdotool key shift+Tab; sleep 0.3
t="$(focused_text)"
[ "$t" = "0001" ] && pass "branch box shows 0001" || fail "branch box holds \"$t\""
xdotool key Tab; sleep 1

m=$(messages)
xdotool key Tab
expect_message 03-proinf "Projeto deve ser informado" "$m"
[ "$(probe)" = "Q" ] && pass "focus back in the project box" || fail "PROINF: focus not in the project box"

m=$(messages)
xdotool type 99; xdotool key Tab
expect_message 04-proncad "Projeto não cadastrado" "$m"
[ "$(probe)" = "Q" ] && pass "unknown project: box cleared and focused" || fail "PRONCAD: project box not cleared/focused"

# --- the load ----------------------------------------------------------------------
shot 05-before-load
before=$(calls)
m=$(messages)
xdotool type 1; xdotool key Tab
loaded() { grep -q '"method":"getPlanProj"' "$OUT/server.log"; }
if wait_for 15 loaded; then
  sleep 1.5
  shot 06-loaded
  got=$(grep -o '"method":"[A-Za-z]*","ms":[0-9]*,"operator":"[A-Z]*","outcome":"ok","params":\[[^]]*\]' "$OUT/server.log" \
        | tail -n +"$((before + 1))" | sed -e 's/"ms":[0-9]*,//' -e 's/"operator":"ANA",//' -e 's/"outcome":"ok",//')
  want='"method":"getProjeto","params":["0001","0000000001",""]
"method":"getConcAtivPro","params":["0001","0000000001"]
"method":"getApropriaCSA","params":["0001","0000000001","1","1"]
"method":"getApropriaCSA","params":["0001","0000000001","1","1"]
"method":"getCSAAux","params":["0001","0000000001"]
"method":"getPlanProj","params":["0001","0000000001"]'
  [ "$got" = "$want" ] && pass "the load made its six calls in order" || { fail "calls of the load:"; printf '%s\n' "$got"; }
  no_box && [ "$(messages)" -eq "$m" ] && pass "no message during the load" || fail "a message came up during the load"
  # The summary box (right of the header) must have changed.
  if [ ${#BUTTONS[@]} -eq 4 ]; then
    region="700x60+$((BUTTONS[0] + 400))+$((BUTTONS[1] - 15))"
    a=$(convert "$OUT/05-before-load.png" -crop "$region" +repage ppm:- | md5sum)
    b=$(convert "$OUT/06-loaded.png" -crop "$region" +repage ppm:- | md5sum)
    [ "$a" != "$b" ] && pass "the summary box was filled" || fail "the summary box did not change"
  fi
else
  fail "the load did not reach getPlanProj"
  shot 06-loaded
fi

# --- project lookup on a branch without projects ----------------------------------
xdotool key shift+Tab; sleep 0.5        # back into the header: the load is dropped
xdotool key shift+Tab; sleep 0.3        # branch box
xdotool key ctrl+a; xdotool type 3; xdotool key Tab; sleep 1.5
no_box || fail "branch 3 raised a message"
if [ ${#BUTTONS[@]} -eq 4 ]; then
  m=$(messages)
  xdotool mousemove "${BUTTONS[2]}" "${BUTTONS[3]}" click 1
  expect_message 07-p-ncadfil "Nenhum projeto cadastrado para filial informada" "$m"
  sleep 0.5
  if xdotool search --onlyvisible --name '^Projeto' >/dev/null 2>&1; then fail "a project list was offered"; else pass "no project list offered"; fi
fi

# --- what the server saw ----------------------------------------------------------------
shot 08-end
alive && pass "the host is still running" || fail "the host ended"
if grep -q '"outcome":-' "$OUT/server.log"; then fail "the server answered errors:"; grep '"outcome":-' "$OUT/server.log"; fi
for f in 00-opened 06-loaded 08-end; do
  [ -s "$OUT/$f.png" ] || fail "screenshot $f.png missing"
done

say "screenshots and logs in $OUT"
if [ $FAILS -eq 0 ]; then say "PASS"; exit 0; fi
say "$FAILS check(s) failed"
exit 1
