#!/usr/bin/env bash
# The Windows tool's command line (build-win64, x86_64) under wine64 on the demo installation,
# as a logon script starts it: from a batch file with "start /wait", the demo's profile handed
# on by cmd, the exit code taken from %ERRORLEVEL% (all of its bits: 1618 stays 1618), the log in
# UTF-8. Wine has no Jet, so the Windows tool cannot open the catalog: Install stops with exit
# code 2, says why in its log and changes nothing. Also the help (0), the status query (1: not
# installed), a wrong option (3) and a second copy while the window runs (1618).
# Usage: scripts/wine-cli.sh [OUT]   (default build-win64/wine-cli)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m -- "${1:-$root/build-win64/wine-cli}")
source "$root/scripts/wine-layout.sh"
wine_layout wine-cli "$out"
export QT_QPA_PLATFORM=offscreen  # (wine-run.sh sets the Russian user's locale)

# No detection mark from an earlier run of this prefix: the status query starts from "not
# installed".
wine reg delete 'HKCU\Software\ZELK\AE_install' /f >/dev/null 2>&1 || true
log=$(win "$out/deploy.log")
profile="set USERPROFILE=$(win "$out/demo/USERPROFILE")&& set PUBLIC=$(win "$out/demo/PUBLIC")"
# The logon script of README, with the demo's profile; it keeps the exit code, which the status
# of a Linux process would cut to 8 bits.
printf '%s\r\n' '@echo off' "$profile" "start \"\" /wait \"%~dp0$name\" %*" \
    '>"%~dp0exit-code.txt" echo %ERRORLEVEL%' >"$tool/deploy.cmd"

status=0
trap 'wineserver -k 2>/dev/null || true' EXIT  # (the window below, on any way out)
# verdict WHAT COMMAND...: "ok" when the command succeeds, else "FAIL" and the run fails.
verdict() {
    local what=$1
    shift
    if "$@"; then
        echo "wine-cli: ok    $what"
    else
        echo "wine-cli: FAIL  $what"
        status=1
    fi
}
run() {
    rm -f "$tool/exit-code.txt"
    (cd "$tool" && "$root/scripts/wine-run.sh" cmd /c deploy.cmd "$@") </dev/null >>"$out/console.txt" 2>&1 || true
    if [[ -f $tool/exit-code.txt ]]; then tr -d '\r\n ' <"$tool/exit-code.txt"; else echo none; fi
}
check() {  # the exit code expected, what is run, the tool's arguments
    local want=$1 what=$2 got
    shift 2
    got=$(run "$@")
    verdict "$what: exit code $got (expected $want)" test "$got" == "$want"
}
logs() { verdict "the log says: $1" grep -qF -- "$1" "$out/deploy.log"; }
state() {
    (cd "$out/demo" && find USERPROFILE PUBLIC -type f -print0 | sort -z | xargs -0 sha256sum)
}

before=$(state)
check 0 "help" "/?"
check 1 "status before Install" /status "/log:$log"
logs "Компоненты ЗЕЛК не установлены"
check 3 "an unknown option" /install /bogus "/log:$log"
logs 'неизвестный параметр "/bogus"'
check 2 "Install without Jet" /install /groups:all "/log:$log"
logs "Microsoft.Jet.OLEDB.4.0"
logs "Код завершения: 2 (остановлено, база изделий не изменена)"
verdict "the log begins with the UTF-8 byte-order mark" \
    test "$(head -c3 "$out/deploy.log" | od -An -tx1 | tr -d ' ')" == efbbbf
verdict "the catalog, the menus and the files are as they were" test "$(state)" == "$before"

# The window (offscreen), and a command while it runs.
(cd "$tool" && exec "$root/scripts/wine-run.sh" cmd /c "$profile&& $name") \
    </dev/null >"$out/window.txt" 2>&1 &
window=$!
got=none
for _ in $(seq 30); do
    got=$(run /install "/log:$log")
    [[ $got == 1618 ]] && break
    sleep 1
done
verdict "Install while the window runs: exit code $got (expected 1618)" test "$got" == 1618
logs "Программа уже работает"
wineserver -k 2>/dev/null || true
wait "$window" 2>/dev/null || true
echo "wine-cli: the log is $out/deploy.log"
exit $status
