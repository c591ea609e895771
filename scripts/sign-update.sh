#!/usr/bin/env bash
# Signs a release for the maker's server. FOLDER is laid out as the server serves it:
#   FOLDER/autocad/status_up.ini   ([Update] date_global=DD.MM.YYYY, Statusbar=...)
#   FOLDER/autocad/ZELK_AE_install.7z, 7z/7z.exe, 7z/7z.dll, update.cmd, manual_update.txt
# The status file is read as the tool reads it (the ANSI code page, or UTF-16 with a byte-order
# mark); its date_global must be a day that exists. It gets, in its own encoding, a section
# [Files] (replacing one it had) with the size and BLAKE2b-256 hash of each of the five update
# files, which binds them to this publication (older tools ignore the section). Then each of
# the six files, and nothing else, gets NAME.minisig beside it: minisign with the secret key file
# that ZELK_SIGNING_KEY names and the trusted comment "date_global=DD.MM.YYYY file=autocad/NAME".
# A password-protected key's password is asked once (or read from the first line of standard
# input when that is no terminal). When ZELK_UPDATE_PUBLIC_KEY holds the public key the tools
# are built with (RW...), every signature and its comment are checked against it afterwards.
#
# Usage: ZELK_SIGNING_KEY=/path/to/secret.key scripts/sign-update.sh FOLDER
set -euo pipefail
folder=${1:?usage: ZELK_SIGNING_KEY=KEYFILE sign-update.sh FOLDER}
folder=${folder%/}
key=${ZELK_SIGNING_KEY:?ZELK_SIGNING_KEY must name the minisign secret key file}
fail() { echo "sign-update: $*" >&2; exit 1; }
[[ -f $key ]] || fail "no secret key file $key"
for tool in minisign b2sum iconv; do
    command -v $tool >/dev/null || fail "$tool is not installed"
done

dir=$folder/autocad
status=$dir/status_up.ini
files=(ZELK_AE_install.7z 7z/7z.exe 7z/7z.dll update.cmd manual_update.txt)
for f in status_up.ini "${files[@]}"; do
    [[ -f $dir/$f ]] || fail "$dir/$f is missing"
done

# The status file's text: UTF-16 with its byte-order mark, or bytes in the ANSI code page
# (section and key names are ASCII, so those are read as they are).
case $(head -c 2 -- "$status" | od -An -tx1 | tr -d ' \n') in
    fffe) encoding=UTF-16LE bom='\xff\xfe' ;;
    feff) encoding=UTF-16BE bom='\xfe\xff' ;;
    *) encoding= bom= ;;
esac
text() {
    if [[ -n $encoding ]]; then
        tail -c +3 -- "$status" | iconv -f "$encoding" -t UTF-8
    else
        cat -- "$status"
    fi
}
text >/dev/null || fail "$status is not readable UTF-16"

# [Update] date_global (names compared ignoring case, blanks around them dropped).
date=$(text | LC_ALL=C awk '
    { sub(/\r$/, "") }
    /^[ \t]*\[/ { s = tolower($0); gsub(/[ \t\[\]]/, "", s); next }
    s == "update" && index($0, "=") {
        k = tolower(substr($0, 1, index($0, "=") - 1)); gsub(/[ \t]/, "", k)
        if (k == "date_global") { v = substr($0, index($0, "=") + 1); gsub(/^[ \t]+|[ \t]+$/, "", v); print v; exit }
    }')
[[ $date =~ ^([0-9]{2})\.([0-9]{2})\.([0-9]{4})$ ]] ||
    fail "$status has no date_global=DD.MM.YYYY in [Update] (found '$date')"
# A day that does not exist would make the release impossible to compare: refused.
if ((10#${BASH_REMATCH[3]} < 2000)) ||
    [[ $(LC_ALL=C date -u -d "${BASH_REMATCH[3]}-${BASH_REMATCH[2]}-${BASH_REMATCH[1]}" +%d.%m.%Y 2>/dev/null) != "$date" ]]; then
    fail "date_global=$date in $status is not a day of 2000 or later"
fi

# The status file with [Files] for this publication, every line ending in CR LF.
listing=
for f in "${files[@]}"; do
    listing+="$f=$(stat -c %s -- "$dir/$f") $(b2sum -l 256 -- "$dir/$f" | cut -d' ' -f1)"$'\n'
done
tmp=$(mktemp "$status.XXXXXX")
trap 'rm -f -- "$tmp"' EXIT
{
    [[ -n $bom ]] && printf "$bom"
    { text | LC_ALL=C awk '
        { sub(/\r$/, "") }
        /^[ \t]*\[/ { s = tolower($0); gsub(/[ \t\[\]]/, "", s); inside = s == "files" }
        !inside { print $0 "\r" }'
      printf '[Files]\r\n'
      printf '%s' "$listing" | sed 's/$/\r/'
    } | if [[ -n $encoding ]]; then iconv -f UTF-8 -t "$encoding"; else cat; fi
} >"$tmp"
mv -f -- "$tmp" "$status"
trap - EXIT

# The password, once, for a key that has one (minisign's key derivation "Sc"); minisign reads it
# from its standard input. A key without one reads nothing.
password= protected=
if [[ $(sed -n 2p -- "$key" | base64 -d 2>/dev/null | head -c 4 | tail -c 2 | tr -d '\0') == Sc ]]; then
    protected=1
    if [[ -t 0 ]]; then
        read -rsp "Password of $key: " password
        echo >&2
    else
        IFS= read -r password || true
    fi
fi

for f in status_up.ini "${files[@]}"; do
    minisign -S -s "$key" -m "$dir/$f" -t "date_global=$date file=autocad/$f" >/dev/null \
        < <([[ -n $protected ]] && printf '%s\n' "$password") ||
        fail "minisign could not sign $dir/$f"
done

if [[ -n ${ZELK_UPDATE_PUBLIC_KEY:-} ]]; then
    for f in status_up.ini "${files[@]}"; do
        out=$(minisign -V -P "$ZELK_UPDATE_PUBLIC_KEY" -m "$dir/$f" 2>&1) ||
            fail "$dir/$f.minisig does not verify with ZELK_UPDATE_PUBLIC_KEY"
        grep -qxF "Trusted comment: date_global=$date file=autocad/$f" <<<"$out" ||
            fail "$dir/$f.minisig does not name $f of the release of $date"
    done
fi

# Anything else there is not signed, so the tool would refuse it: said, not hidden.
while IFS= read -r -d '' f; do
    [[ " status_up.ini ${files[*]} " == *" $f "* ]] || echo "sign-update: not signed: $dir/$f" >&2
done < <(find "$dir" -type f ! -name '*.minisig' -printf '%P\0' | sort -z)
echo "sign-update: signed the status file and the five update files of the release of $date"
