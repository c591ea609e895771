#!/usr/bin/env bash
# Signs an update for the maker's server: every file under FOLDER gets NAME.minisig beside it,
# made by minisign with the secret key file that ZELK_SIGNING_KEY names, with the trusted
# comment "date_global=DD.MM.YYYY" taken from FOLDER/autocad/status_up.ini. FOLDER is laid out
# as the server serves it:
#   FOLDER/autocad/status_up.ini   ([Update] date_global=DD.MM.YYYY, Statusbar=...)
#   FOLDER/autocad/ZELK_AE_install.7z, 7z/7z.exe, 7z/7z.dll, update.cmd, manual_update.txt
# minisign asks for the key's password once. When ZELK_UPDATE_PUBLIC_KEY holds the public key
# the tools are built with (RW...), every signature is checked against it afterwards.
#
# Usage: ZELK_SIGNING_KEY=/path/to/secret.key scripts/sign-update.sh FOLDER
set -euo pipefail
folder=${1:?usage: ZELK_SIGNING_KEY=KEYFILE sign-update.sh FOLDER}
key=${ZELK_SIGNING_KEY:?ZELK_SIGNING_KEY must name the minisign secret key file}
[[ -f $key ]] || { echo "sign-update: no secret key file $key" >&2; exit 1; }
command -v minisign >/dev/null || { echo "sign-update: minisign is not installed" >&2; exit 1; }

status=$folder/autocad/status_up.ini
for f in status_up.ini ZELK_AE_install.7z 7z/7z.exe 7z/7z.dll update.cmd manual_update.txt; do
    [[ -f $folder/autocad/$f ]] || { echo "sign-update: $folder/autocad/$f is missing" >&2; exit 1; }
done

# [Update] date_global of the status file (names compared ignoring case, blanks and CR dropped).
date=$(tr -d '\r' <"$status" | awk '
    /^[ \t]*\[/ { s = tolower($0); gsub(/[ \t\[\]]/, "", s); next }
    s == "update" && index($0, "=") {
        k = tolower(substr($0, 1, index($0, "=") - 1)); gsub(/[ \t]/, "", k)
        if (k == "date_global") { v = substr($0, index($0, "=") + 1); gsub(/^[ \t]+|[ \t]+$/, "", v); print v; exit }
    }')
if [[ ! $date =~ ^[0-3][0-9]\.[01][0-9]\.[0-9]{4}$ ]]; then
    echo "sign-update: $status has no date_global=DD.MM.YYYY in [Update] (found '$date')" >&2
    exit 1
fi

files=()
while IFS= read -r -d '' f; do files+=("$f"); done \
    < <(find "$folder" -type f ! -name '*.minisig' -print0 | sort -z)
minisign -S -s "$key" -t "date_global=$date" -m "${files[@]}"

if [[ -n ${ZELK_UPDATE_PUBLIC_KEY:-} ]]; then
    for f in "${files[@]}"; do
        minisign -V -q -P "$ZELK_UPDATE_PUBLIC_KEY" -m "$f" >/dev/null ||
            { echo "sign-update: $f.minisig does not verify with ZELK_UPDATE_PUBLIC_KEY" >&2; exit 1; }
    done
fi
echo "sign-update: signed ${#files[@]} files for the release of $date"
