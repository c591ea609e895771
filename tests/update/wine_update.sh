#!/usr/bin/env bash
# The Windows tool (build-win64, x86_64) updates itself end to end under wine64 from a local
# update server: the signed status file, the five files with their signatures, the batch
# update.cmd started by Wine's cmd, today's date recorded. Three runs:
#   1. a server that writes its replies whole and offers PASV (no EPSV);
#   2. one that writes every reply one byte at a time and each line of a reply on its own,
#      with pauses between them, and offers no passive mode;
#   3. a tool folder without data\ and no update announced: discovery's update download
#      repairs it.
#
#   bash tests/update/wine_update.sh [OUT]
#
# The build's update server and probe are 127.0.0.1 (ports 2121 and 80: run as root; a web
# server already on port 80 serves as the probe too). scripts/test-wine.sh runs it on its
# display; without DISPLAY the tool runs offscreen. Prints "N passed, N failed" last.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
out=$(realpath -m -- "${1:-$root/build-win64/wine-update}")
exe=$root/build-win64/ZELK_AE_install-test.exe
[[ -f $exe && -d $root/build-win64/package ]] ||
    { echo "wine-update: run scripts/build-windows.sh x86_64 first" >&2; exit 1; }
export WINEPREFIX=${WINEPREFIX:-$root/build-win64/wineprefix} WINEDEBUG=-all
bash "$root/scripts/wine-prefix.sh" >/dev/null
[[ -n ${DISPLAY:-} ]] && export QT_QPA_PLATFORM=windows || export QT_QPA_PLATFORM=offscreen

rm -rf -- "$out"
mkdir -p "$out"
pids=()
server=
cleanup() {
    local p
    wineserver -k 2>/dev/null || true
    for p in "${pids[@]}" $server; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
}
trap cleanup EXIT

# The probe's web server, unless one is there already.
python3 "$root/tests/update/ftp_script_server.py" '{"port": 80}' >"$out/probe.log" 2>&1 &
pids+=($!)

passed=0
failed=0
fail() { echo "FAIL: $name: $*"; failed=$((failed + 1)); }

start_server() {
    [[ -n $server ]] && { kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; }
    : >"$out/server.log"
    python3 "$root/tests/update/ftp_script_server.py" "$1" >"$out/server.log" 2>/dev/null &
    server=$!
    for _ in $(seq 100); do [[ -s $out/server.log ]] && return 0; sleep 0.1; done
    echo "wine-update: the update server did not start on 127.0.0.1:2121" >&2
    exit 1
}

# The release the server announces, every file signed for it; a batch script that leaves a
# mark in its current folder, the tool's.
status='[Update]\r\ndate_global=01.01.2030\r\nStatusbar=Wine\r\n'
script='@echo off\r\necho handed-over> marker.txt\r\n'
files="\"port\": 2121, \"date\": \"01.01.2030\", \"retr_by_path\": {
    \"/autocad/status_up.ini\": {\"data\": \"$status\"},
    \"/autocad/update.cmd\": {\"data\": \"$script\"}}"

# A fresh copy of the tool with its data package, the files of an earlier update and
# local_date as given.
lay_out() {
    tool=$out/$1/tool
    mkdir -p "$tool/7z"
    cp -- "$exe" "$tool/"
    cp -R -- "$root/build-win64/package/." "$tool/"
    printf 'old package' >"$tool/ZELK_AE_install.7z"
    printf 'old unpacker' >"$tool/7z/7z.exe"
    printf 'echo old-ran> marker.txt\r\n' >"$tool/update.cmd"
    printf '[Update]\r\nlocal_date=%s\r\n' "$2" >"$tool/config.ini"
}

# Starts the tool in its folder and checks that it updated itself and ended.
update_run() {
    local started=$SECONDS ended=
    (cd "$tool" && exec "$root/scripts/wine-run.sh" ZELK_AE_install-test.exe) >"$out/$name.log" 2>&1 &
    local tool_pid=$!
    while ((SECONDS - started < 120)); do
        kill -0 "$tool_pid" 2>/dev/null || { ended=1; break; }
        sleep 0.2
    done
    for _ in $(seq 100); do [[ -f $tool/marker.txt ]] && break; sleep 0.1; done
    if [[ -z $ended ]]; then
        kill "$tool_pid" 2>/dev/null
        fail "the tool still runs after 120 s"
        return
    fi
    local bad=
    [[ $(tr -d '\r\n ' <"$tool/marker.txt" 2>/dev/null) == handed-over ]] ||
        bad+=" the new update.cmd did not run;"
    grep -q "local_date=$(date +%d.%m.%Y)" "$tool/config.ini" || bad+=" today's date not recorded;"
    # (the server lists the five files it serves in the status file's [Files] and prints it)
    cmp -s "$tool/data/status_up.ini" <(python3 -c 'import sys; sys.stdout.buffer.write(bytes.fromhex(sys.argv[1]))' \
        "$(sed -n 's/^STATUS //p' "$out/server.log" | head -1)") || bad+=" status file not the server's;"
    local f
    for f in ZELK_AE_install.7z 7z/7z.exe 7z/7z.dll manual_update.txt; do
        [[ $(cat "$tool/$f" 2>/dev/null) == "content of /autocad/$f" ]] || bad+=" $f not the new one;"
    done
    ls "$tool" "$tool/7z" "$tool/data" | grep -qE '\.[A-Za-z0-9]{6}(\.zelk-part)?$' &&
        bad+=" a part file is left;"
    if [[ -n $bad ]]; then
        fail "$bad (log: $out/$name.log, server: $out/$name.server.log)"
    else
        echo "ok: $name: updated and handed over in $((SECONDS - started)) s"
        passed=$((passed + 1))
    fi
    cp -- "$out/server.log" "$out/$name.server.log"
}

name=whole
lay_out $name 01.01.2020
start_server "{$files, \"passive\": [\"PASV\"]}"
update_run
grep -q '^CMD PORT' "$out/whole.server.log" && fail "an active data connection to a passive server"

name=pieces
lay_out $name 01.01.2020
start_server "{$files, \"pieces\": {\"bytes\": true, \"line_pause\": 0.1}}"
update_run

name=repair
lay_out $name 01.01.2030
rm -rf -- "$tool/data"
start_server "{$files}"
update_run
# The start-up check fetched the status file, and the repair fetched it again first.
(($(grep -c 'RETR /autocad/status_up.ini$' "$out/repair.server.log") == 2)) ||
    fail "the repair did not fetch the status file first"

echo "wine-update: $passed passed, $failed failed"
((failed == 0))
