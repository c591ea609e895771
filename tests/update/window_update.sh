#!/usr/bin/env bash
# The real window against a local update server that offers a newer update.
#
#   bash tests/update/window_update.sh [BUILD_DIR] [SCREENSHOT_DIR]
#
# Builds the tool in BUILD_DIR (default build-window-update/, configured with the probe and the
# update server on 127.0.0.17, so that it shares no port with other local servers), lays out a
# scratch installation with the data package and starts the tool under Xvfb from another folder
# than its own, three times:
#   1. the start-up check hands off to the update script, and the catalog to restore is an empty
#      file: the tool ends by itself within two seconds of the script's start, with no box;
#   2. the same with "data\bd_info.txt" missing and no update announced, so that discovery hands
#      off and then fails on the catalog: the tool ends by itself all the same;
#   3. the update package trickles in: the progress window shows within a second of the
#      download's start; "Отмена" ends the download, the old files stay, no script runs, no date
#      is recorded, and the main window is there (without a second download: the tool found its
#      own files although it was started from another folder);
#   4. as 1, from a server that writes every reply one byte at a time and each line of a reply
#      on its own with pauses, while the progress window takes its input;
#   5. as 1, from a server that refuses active data connections;
#   6. a tool folder without data\ and no update announced: discovery's update download
#      repairs it and hands off.
# Needs root (port 80 for the probe), Xvfb, xwininfo, xdotool and ImageMagick's import.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m -- "${1:-$root/build-window-update}")
shots=$(realpath -m -- "${2:-$build}")
addr=127.0.0.17
mkdir -p "$shots"

source "$root/tests/update/window_support.sh"
build_tool "$build" $addr

work=$(mktemp -d)
pids=()
server=
cleanup() {
    local p
    for p in "${pids[@]}" $server; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf -- "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

"$build/zelk_datagen" --demo-profile "$root/data-src" "$work" >/dev/null

# The probe's web server: the connect is all it is asked for.
python3 "$root/tests/update/ftp_script_server.py" "{\"address\": \"$addr\", \"port\": 80}" \
    >"$work/probe.log" &
pids+=($!)

# The update server, with a scenario of its own for each run.
start_server() {
    [[ -n $server ]] && { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; }
    : >"$work/server.log"
    python3 "$root/tests/update/ftp_script_server.py" "$1" >"$work/server.log" &
    server=$!
    for _ in $(seq 50); do [[ -s $work/server.log ]] && break; sleep 0.1; done
    [[ -s $work/server.log ]] || fail "port 2121 on $addr not free"
}
# Every file is signed with the test key for the release of the status file served.
files="\"address\": \"$addr\", \"port\": 2121, \"date\": \"01.01.2030\", \"retr_by_path\": {\"/autocad/status_up.ini\":
    {\"data\": \"[Update]\\r\\ndate_global=01.01.2030\\r\\n\"},
    \"/autocad/update.cmd\": {\"data\": \"echo handed-over > marker.txt\\n\"}"

# A fresh copy of the tool with the files of an earlier update; config.ini as given.
lay_out() {
    rm -rf -- "$work/tool" "$work/elsewhere"
    mkdir -p "$work/tool/7z" "$work/elsewhere"
    cp -- "$build/ZELK_AE_install-test" "$work/tool/"
    cp -R -- "$build/package/." "$work/tool/"
    printf 'old package' >"$work/tool/ZELK_AE_install.7z"
    printf 'old unpacker' >"$work/tool/7z/7z.exe"
    printf 'old library' >"$work/tool/7z/7z.dll"
    printf 'echo old-ran > marker.txt\n' >"$work/tool/update.cmd"
    : >"$work/empty.mdb"
    printf '[BASE]\r\nPATH=%s\r\n[Update]\r\nlocal_date=%s\r\n' "$work/empty.mdb" "$1" \
        >"$work/tool/config.ini"
    (cd "$work/tool" && md5sum ZELK_AE_install.7z 7z/7z.exe 7z/7z.dll update.cmd) >"$work/old.md5"
}

start_display "$work"

start_tool() {  # from another folder than the tool's own
    started=$(now_ms)
    (cd "$work/elsewhere" && exec "$work/tool/ZELK_AE_install-test") >"$work/tool.log" 2>&1 &
    tool=$!
}
viewable() {  # the id of a viewable window whose name contains $1
    local id
    for id in $(xdotool search --name "$1" 2>/dev/null); do
        xwininfo -id "$id" 2>/dev/null | grep -q IsViewable && { echo "$id"; return 0; }
    done
    return 1
}

# ---- 1 and 2: the hand-off, then an error of start-up
hand_off_then_error() {
    local name=$1 shot=$2 marker_ms= ended_ms=
    start_tool
    while :; do
        [[ -z $marker_ms && -f $work/tool/marker.txt ]] && marker_ms=$(now_ms)
        if ! kill -0 "$tool" 2>/dev/null; then ended_ms=$(now_ms); break; fi
        (($(now_ms) - started > 20000)) && break
        sleep 0.05
    done
    import -window root "$shot"
    [[ -n $ended_ms ]] || fail "$name: the tool still runs 20 s after its start; screen: $shot"
    for _ in $(seq 40); do [[ -f $work/tool/marker.txt ]] && break; sleep 0.05; done
    [[ -n $marker_ms ]] || marker_ms=$(now_ms)
    [[ $(cat "$work/tool/marker.txt" 2>/dev/null) == handed-over ]] ||
        fail "$name: the new update script did not run"
    wait "$tool" || fail "$name: exit code $?"
    local after=$((ended_ms - marker_ms))
    ((after <= 2000)) || fail "$name: the tool ended $after ms after the script's start"
    viewable 'ЗЕЛК' >/dev/null && fail "$name: a window is left"
    grep -q 'local_date=' "$work/tool/config.ini" || fail "$name: no date recorded"
    echo "ok: $name: the tool ended by itself $((ended_ms - started)) ms after its start" \
        "(the script ran; at most 2000 ms between the two: $after ms)"
}

lay_out 01.01.2020
start_server "{$files}}"
hand_off_then_error "hand-off at the start-up check, empty catalog" "$shots/handoff-check.png"

lay_out 01.01.2030
rm -f -- "$work/tool/data/bd_info.txt"
start_server "{$files}}"
hand_off_then_error "hand-off in discovery, then the catalog fails" "$shots/handoff-discovery.png"

# ---- 3: a trickling package, cancelled
lay_out 01.01.2020
start_server "{$files,
    \"/autocad/ZELK_AE_install.7z\": {\"size\": 1000, \"size_cmd\": true, \"trickle\": 0.5}}}"
start_tool
cancel_tool=$tool
window=
while :; do
    window=$(viewable 'Обновление') && break
    kill -0 "$tool" 2>/dev/null || fail "the tool ended early: $(cat "$work/tool.log")"
    (($(now_ms) - started > 20000)) && break
    sleep 0.05
done
shown_ms=$(($(now_ms) - started))
[[ -n $window ]] || { import -window root "$shots/progress.png"; fail "no progress window"; }
sleep 1.5  # a few bytes arrive
import -window root "$shots/progress.png"
((shown_ms <= 2000)) || fail "the progress window showed $shown_ms ms after the start"
eval "$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {print "x=" $NF}
    /Absolute upper-left Y/ {print "y=" $NF} /Width/ {print "w=" $NF} /Height/ {print "h=" $NF}')"
xdotool mousemove $((x + w - 50)) $((y + h - 24)) click 1
cancelled=$(now_ms)
main=
while :; do
    if ! viewable 'Обновление' >/dev/null; then main=$(viewable 'ЗЕЛК') && break; fi
    kill -0 "$tool" 2>/dev/null || fail "the tool ended after the cancel: $(cat "$work/tool.log")"
    (($(now_ms) - cancelled > 5000)) && break
    sleep 0.05
done
gone_ms=$(($(now_ms) - cancelled))
sleep 0.7
import -window root "$shots/cancelled.png"
[[ -n $main ]] || fail "no main window after the cancel; screen: $shots/cancelled.png"
(cd "$work/tool" && md5sum --quiet -c "$work/old.md5") || fail "an old file was replaced"
[[ -f $work/tool/marker.txt ]] && fail "a script ran"
grep -q 'local_date=01.01.2020' "$work/tool/config.ini" || fail "a date was recorded"
ls "$work/tool" "$work/tool/7z" | grep -qE '\.[A-Za-z0-9]{6}(\.zelk-part)?$' &&
    fail "a temporary file is left"
kill -0 "$tool" 2>/dev/null || fail "the tool ended"
sleep 1
retr=$(grep -cE 'RETR /autocad/ZELK_AE_install\.7z\s*$' "$work/server.log" || true)  # not its .minisig
((retr == 1)) || fail "the package was asked for $retr times"
echo "ok: the progress window showed $shown_ms ms after the start;" \
    "after \"Отмена\" the main window was back within $gone_ms ms, old files kept, no script," \
    "no date; screens: $shots/progress.png $shots/cancelled.png"
kill "$cancel_tool"
wait "$cancel_tool" 2>/dev/null || true

# ---- 4 to 6: replies in pieces, no active mode, the repair
lay_out 01.01.2020
start_server "{$files}, \"pieces\": {\"bytes\": true, \"line_pause\": 0.2}}"
hand_off_then_error "every reply in pieces, the progress window open" "$shots/handoff-pieces.png"

lay_out 01.01.2020
start_server "{$files}, \"passive\": [\"EPSV\", \"PASV\"],
    \"replies\": {\"PORT\": \"500 Active mode refused\"}}"
hand_off_then_error "a server that refuses active mode" "$shots/handoff-passive.png"
grep -q '^CMD PORT' "$work/server.log" && fail "an active data connection was asked for"

lay_out 01.01.2030
rm -rf -- "$work/tool/data"
start_server "{$files}}"
hand_off_then_error "a tool folder without data\\, repaired" "$shots/handoff-repair.png"
[[ -s $work/tool/data/status_up.ini ]] || fail "the repair brought no status file"
