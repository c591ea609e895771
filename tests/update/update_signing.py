"""Signatures for the tests' update servers, made as the maker publishes a release
(scripts/sign-update.sh): minisign with the test key of tests/keys/ (or with a key made for the
occasion, which the tool does not know), the trusted comment naming the release date and the
file's server path; the status file listing the five update files in its section [Files]."""
import hashlib
import os
import shutil
import subprocess
import tempfile

TEST_KEY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "keys",
                        "update-test.key")
# The five update files, as the status file names them (below "autocad/").
UPDATE_FILES = ["ZELK_AE_install.7z", "7z/7z.exe", "7z/7z.dll", "update.cmd",
                "manual_update.txt"]


def _run(args):
    subprocess.run(["minisign"] + args, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL)


def comment(date, name, sep=" "):
    """The trusted comment of the file `name` (its server path without the leading "/")."""
    return "date_global=" + date + sep + "file=" + name


def sign_file(path, sig_path, date, name, key=TEST_KEY, legacy=False, sep=" "):
    """Writes the signature of the file `path` to `sig_path` (legacy: over the file itself,
    not over its hash)."""
    _run(["-S"] + (["-l"] if legacy else []) +
         ["-s", key, "-m", path, "-x", sig_path, "-t", comment(date, name, sep)])


def sign(data, date, name, other_key=False, legacy=False, sep=" "):
    """The signature file (bytes) of `data` served as `name`."""
    work = tempfile.mkdtemp(prefix="zelk-signing-")
    try:
        key = TEST_KEY
        if other_key:
            key = os.path.join(work, "other.key")
            _run(["-G", "-W", "-f", "-p", key + ".pub", "-s", key])
        path = os.path.join(work, "file")
        with open(path, "wb") as f:
            f.write(data)
        sign_file(path, path + ".minisig", date, name, key, legacy, sep)
        with open(path + ".minisig", "rb") as f:
            return f.read()
    finally:
        shutil.rmtree(work, ignore_errors=True)


def files_section(files):
    """The section [Files] (CR LF lines) for {name: bytes}: size and BLAKE2b-256 of each."""
    lines = ["[Files]"] + ["%s=%d %s" % (name, len(data),
                                         hashlib.blake2b(data, digest_size=32).hexdigest())
                           for name, data in files.items()]
    return "".join(line + "\r\n" for line in lines)


def _decode(raw):
    """The text of a status file by the tool's rules, and how to write it back."""
    if raw.startswith(b"\xff\xfe") or raw.startswith(b"\xfe\xff"):
        return raw.decode("utf-16"), lambda text: text.encode("utf-16")
    return raw.decode("cp1251", "replace"), lambda text: text.encode("cp1251", "replace")


def with_files(raw, files):
    """The status file `raw` with its section [Files] replaced by one for `files`."""
    text, encode = _decode(raw)
    kept, inside = [], False
    for line in text.splitlines(keepends=True):
        bare = line.strip()
        if bare.startswith("["):
            inside = bare[1:].split("]")[0].strip().lower() == "files"
        if not inside:
            kept.append(line)
    text = "".join(kept)
    if text and not text.endswith("\n"):
        text += "\r\n"
    return encode(text + files_section(files))


def status_date(ini_path):
    """The "date_global" of section "Update" of a status file; empty when it has none."""
    section = ""
    try:
        with open(ini_path, "rb") as f:
            text, _ = _decode(f.read())
    except OSError:
        return ""
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1].strip().lower()
        elif section == "update" and "=" in line:
            key, value = line.split("=", 1)
            if key.strip().lower() == "date_global":
                return value.strip()
    return ""


def publish_status(root):
    """Brings the section [Files] of ROOT/autocad/status_up.ini up to date with the update
    files there (those present)."""
    folder = os.path.join(root, "autocad")
    status = os.path.join(folder, "status_up.ini")
    if not os.path.isfile(status):
        return
    files = {}
    for name in UPDATE_FILES:
        path = os.path.join(folder, *name.split("/"))
        if os.path.isfile(path):
            with open(path, "rb") as f:
                files[name] = f.read()
    with open(status, "rb") as f:
        raw = f.read()
    published = with_files(raw, files)
    if published != raw:
        with open(status, "wb") as f:
            f.write(published)
