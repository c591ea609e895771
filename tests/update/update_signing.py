"""Signatures for the tests' update servers: minisign with the test key of tests/keys/ (or with
a key made for the occasion, which the tool does not know), the release date in the trusted
comment."""
import os
import shutil
import subprocess
import tempfile

TEST_KEY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "keys",
                        "update-test.key")


def _run(args):
    subprocess.run(["minisign"] + args, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL)


def sign_file(path, sig_path, date, key=TEST_KEY, legacy=False):
    """Writes the signature of the file `path` to `sig_path` (legacy: over the file itself,
    not over its hash)."""
    _run(["-S"] + (["-l"] if legacy else []) +
         ["-s", key, "-m", path, "-x", sig_path, "-t", "date_global=" + date])


def sign(data, date, other_key=False, legacy=False):
    """The signature file (bytes) of `data`."""
    work = tempfile.mkdtemp(prefix="zelk-signing-")
    try:
        key = TEST_KEY
        if other_key:
            key = os.path.join(work, "other.key")
            _run(["-G", "-W", "-f", "-p", key + ".pub", "-s", key])
        path = os.path.join(work, "file")
        with open(path, "wb") as f:
            f.write(data)
        sign_file(path, path + ".minisig", date, key, legacy)
        with open(path + ".minisig", "rb") as f:
            return f.read()
    finally:
        shutil.rmtree(work, ignore_errors=True)


def status_date(ini_path):
    """The "date_global" of section "Update" of a status file; empty when it has none."""
    section = ""
    try:
        with open(ini_path, "rb") as f:
            text = f.read().decode("cp1251", "replace")
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
