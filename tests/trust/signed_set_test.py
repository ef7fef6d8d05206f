#!/usr/bin/python3
"""Signed update sets, end to end with ssh-keygen's own keys and signatures.

Signature rows: `kqvorlink-cli verify` must accept exactly what `ssh-keygen -Y verify -n
kqvorlink-set -I PRINCIPAL -f allowed_signers` accepts, ssh-keygen asked for each row here (an RSA
key, which ssh-keygen takes, is refused naming Ed25519). Set rows: `update --manifest` against a
kqunit (127.0.31.10) refuses a changed, extra or missing file, a lower release and an expired
manifest with exit 2 and one line, and the unit receives nothing; a signed run completes, names
the set and its signer in the report and keeps its release; an unsigned run names its files'
digest.

    signed_set_test.py --cli "kqvorlink-cli-scaled 0.05" --kqunit kqunit
The Windows program's signature rows run under Wine from tests/e2e/cli_cases.py
(run_rows with a caller that starts it there).
"""

import argparse
import base64
import hashlib
import json
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(ROOT, "sim"))
import make_sample_set  # noqa: E402

NAMESPACE = "kqvorlink-set"
PRINCIPAL = "ops@example.com"
UNIT = "127.0.31.10"


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, timeout=120, **kwargs)


class Keys:
    """Two Ed25519 keys and an RSA key made by ssh-keygen in the folder."""

    def __init__(self, folder):
        self.folder = folder
        for name, kind in (("a", "ed25519"), ("b", "ed25519"), ("rsa", "rsa")):
            run(["ssh-keygen", "-q", "-t", kind, "-N", "", "-C", name, "-f",
                 os.path.join(folder, name)], check=True)

    def public(self, name):
        with open(os.path.join(self.folder, name + ".pub")) as f:
            return " ".join(f.read().split()[:2])

    def fingerprint(self, name):
        out = run(["ssh-keygen", "-l", "-f", os.path.join(self.folder, name + ".pub")],
                  check=True).stdout.decode()
        return out.split()[1]

    def sign(self, name, manifest, namespace=NAMESPACE, options=()):
        """The armoured signature of the manifest's bytes."""
        if os.path.exists(manifest + ".sig"):
            os.remove(manifest + ".sig")
        run(["ssh-keygen", "-Y", "sign", "-f", os.path.join(self.folder, name), "-n", namespace]
            + list(options) + [manifest], check=True)
        with open(manifest + ".sig", "rb") as f:
            return f.read()


def flip_signature_bit(armoured):
    """One bit of the signature's last bytes changed, armoured again."""
    lines = armoured.decode().splitlines()
    blob = bytearray(base64.b64decode("".join(lines[1:-1])))
    blob[-5] ^= 0x10
    text = base64.b64encode(bytes(blob)).decode()
    body = "\n".join(text[i:i + 70] for i in range(0, len(text), 70))
    return ("%s\n%s\n%s\n" % (lines[0], body, lines[-1])).encode()


def signature_rows(keys, manifest, other_manifest):
    """(name, allowed_signers text, signature bytes, expected principal or None)."""
    a, b, rsa = keys.public("a"), keys.public("b"), keys.public("rsa")
    good = keys.sign("a", manifest)
    listed = '%s namespaces="%s" %s\n' % (PRINCIPAL, NAMESPACE, a)
    return [
        ("good", "# signers\n\n" + listed, good, PRINCIPAL),
        ("sha256_hash", listed, keys.sign("a", manifest, options=["-O", "hashalg=sha256"]),
         PRINCIPAL),
        ("other_namespace", listed, keys.sign("a", manifest, namespace="file"), None),
        ("other_key", listed, keys.sign("b", manifest), None),
        ("key_not_listed", "# nobody yet\n", good, None),
        ("namespace_not_allowed", '%s namespaces="file,git" %s\n' % (PRINCIPAL, a), good, None),
        ("second_line_admits", '%s namespaces="file" %s\nrelease@example.com,%s %s\n'
         % (PRINCIPAL, a, PRINCIPAL, a), good, "release@example.com"),
        ("negated_first_principal", '!%s,ops@* %s\n' % (PRINCIPAL, a), good, "ops@*"),
        ("valid_before_past", '%s valid-before="20200101" %s\n' % (PRINCIPAL, a), good, None),
        ("valid_after_future", '%s valid-after="20990101Z" %s\n' % (PRINCIPAL, a), good, None),
        ("valid_window_now", '%s valid-after="20200101",VALID-BEFORE="209901011200Z" %s\n'
         % (PRINCIPAL, a), good, PRINCIPAL),
        ("truncated", listed, good[:len(good) // 2], None),
        ("one_bit_flipped", listed, flip_signature_bit(good), None),
        ("another_manifest", listed, keys.sign("a", other_manifest), None),
        ("rsa_key", '%s %s\n' % (PRINCIPAL, rsa), keys.sign("rsa", manifest), None),
    ]


def keygen_accepts(signers, signature, manifest, principal):
    with open(manifest, "rb") as f:
        done = run(["ssh-keygen", "-Y", "verify", "-n", NAMESPACE, "-I", principal, "-f", signers,
                    "-s", signature], stdin=f)
    return done.returncode == 0


def check_signature_rows(cli, keys, folder, set_dir, manifest, other_manifest):
    """cli(args): the program's run with those arguments."""
    failures = []
    for name, signers_text, signature, principal in signature_rows(keys, manifest, other_manifest):
        signers, sig = os.path.join(folder, name + ".signers"), os.path.join(folder, name + ".sig")
        with open(signers, "w") as f:
            f.write(signers_text)
        with open(sig, "wb") as f:
            f.write(signature)
        done = cli(["verify", "--set", set_dir, "--manifest", manifest, "--allowed-signers",
                          signers, "--signature", sig, "--state-dir",
                          os.path.join(folder, "state")])
        out, err = done.stdout.decode(), done.stderr.decode()
        ours = done.returncode == 0
        theirs = keygen_accepts(signers, sig, manifest, principal or PRINCIPAL)
        expected_ours = theirs and name != "rsa_key"
        if name == "rsa_key" and not (theirs and "Ed25519" in err):
            failures.append("rsa_key: ssh-keygen %s it; ours said %r" % (
                "accepts" if theirs else "refuses", err))
        if ours != expected_ours or done.returncode not in (0, 2):
            failures.append("%s: ssh-keygen %s, kqvorlink-cli exit %d: %s" % (
                name, "accepts" if theirs else "refuses", done.returncode, out + err))
        elif ours and "signed by %s (%s)" % (principal, keys.fingerprint("a")) not in out:
            failures.append("%s: not signed by %s with a's fingerprint: %s" % (name, principal, out))
        elif not ours and len(err.strip().splitlines()) != 1:
            failures.append("%s: the refusal is not one line: %r" % (name, err))
    return failures


def make_manifest(cli, set_dir, path, release, extra=()):
    done = cli(["manifest", "--set", set_dir, "--release", str(release), "--out", path]
               + list(extra))
    if done.returncode != 0:
        raise RuntimeError("manifest: " + done.stderr.decode())


def file_lines_digest(manifest):
    with open(manifest, "rb") as f:
        lines = [line for line in f.read().split(b"\n") if line.startswith(b"file ")]
    return hashlib.sha256(b"".join(line + b"\n" for line in lines)).hexdigest()


class Unit:
    def __init__(self, kqunit, folder):
        self.output = os.path.join(folder, "unit.txt")
        self.log = open(self.output, "wb")
        self.proc = subprocess.Popen(
            [kqunit, "--address", UNIT, "--store", os.path.join(folder, "store"),
             "--idle-timeout-s", "300"], stdout=self.log, stderr=subprocess.STDOUT)
        end = time.monotonic() + 10
        while b"serving" not in self.text():
            if time.monotonic() > end or self.proc.poll() is not None:
                raise RuntimeError("kqunit did not start: %r" % self.text())
            time.sleep(0.05)

    def text(self):
        with open(self.output, "rb") as f:
            return f.read()

    def commands(self):
        return [l for l in self.text().splitlines() if l and not l.startswith(b"kqunit:")]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.log.close()


class SetRun:
    """update runs of one set against the unit, each with a report of its own."""

    def __init__(self, cli, keys, folder, unit):
        self.cli, self.keys, self.folder, self.unit = cli, keys, folder, unit
        self.signers = os.path.join(folder, "allowed_signers")
        with open(self.signers, "w") as f:
            f.write("%s %s\n" % (PRINCIPAL, keys.public("a")))
        self.state = os.path.join(folder, "state")
        self.count = 0

    def fresh_set(self, release, extra=()):
        self.count += 1
        set_dir = os.path.join(self.folder, "set-%d" % self.count)
        make_sample_set.make_set(set_dir, only=["fpga5m", "web0", "logo"])
        manifest = os.path.join(self.folder, "set-%d.manifest" % self.count)
        make_manifest(self.cli, set_dir, manifest, release, extra)
        self.keys.sign("a", manifest)
        return set_dir, manifest

    def update(self, set_dir, manifest, *options):
        report = os.path.join(self.folder, "report-%d.json" % self.count)
        seen = len(self.unit.commands())
        args = ["update", "--set", set_dir, "--report", report, "--state-dir", self.state,
                "--operator", "ctrl-user"]
        if manifest:
            args += ["--manifest", manifest, "--allowed-signers", self.signers]
        done = self.cli(args + list(options) + [UNIT])
        sent = self.unit.commands()[seen:]
        parsed = None
        if os.path.exists(report):
            with open(report) as f:
                parsed = json.load(f)
        return done.returncode, done.stderr.decode(), sent, parsed


def refused_set_rows():
    """(name, release, change of the set after signing, the words the refusal must hold)."""

    def change_byte(set_dir, manifest):
        with open(os.path.join(set_dir, "LOGO.bmp"), "r+b") as f:
            f.seek(100)
            byte = f.read(1)
            f.seek(100)
            f.write(bytes([byte[0] ^ 1]))

    def extra_file(set_dir, manifest):
        shutil.copy(os.path.join(set_dir, "LOGO.bmp"), os.path.join(set_dir, "old.tbl"))

    def missing_file(set_dir, manifest):
        os.remove(os.path.join(set_dir, "oemlogo.gif"))

    def expired(set_dir, manifest):
        # A manifest that expired an hour ago, signed as it is.
        with open(manifest) as f:
            lines = f.read().splitlines(True)
        past = time.strftime("%Y-%m-%dT%H:%M:%S+00:00", time.gmtime(time.time() - 3600))
        lines.insert(3, "expires %s\n" % past)
        with open(manifest, "w") as f:
            f.write("".join(lines))

    return [("changed_byte", 9, change_byte, "'LOGO.bmp' differs from the manifest"),
            ("extra_file", 9, extra_file, "'old.tbl' would be sent but is not in the manifest"),
            ("missing_file", 9, missing_file, "'oemlogo.gif' is listed but not among"),
            ("expired", 9, expired, "expired at"),
            ("lower_release", 7, None, "release 7 of --manifest"),
            ]


def check_set_rows(cli, keys, folder, kqunit):
    failures = []
    unit = Unit(kqunit, folder)
    try:
        runs = SetRun(cli, keys, folder, unit)
        # A signed run completes, says which set went out and keeps its release.
        set_dir, manifest = runs.fresh_set(8, ["--target-version", "KQ-A2.01.02.45"])
        status, err, sent, report = runs.update(set_dir, manifest)
        with open(manifest, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        expected = {"signed": True, "sha256": digest, "release": 8, "signer": PRINCIPAL,
                    "key_fingerprint": keys.fingerprint("a"), "target_version": "KQ-A2.01.02.45",
                    "files_sha256": file_lines_digest(manifest), "downgrade": False}
        got = {key: (report or {}).get("set", {}).get(key) for key in expected}
        if status != 0 or got != expected:
            failures.append("signed run: exit %d %s, set %s, not %s" % (status, err, got, expected))
        if (report or {}).get("operator", {}).get("text") != "ctrl-user":
            failures.append("signed run: operator %s" % (report or {}).get("operator"))
        with open(os.path.join(runs.state, "release-KQ-A2.state")) as f:
            if "release 8\nmanifest %s\n" % digest not in f.read():
                failures.append("signed run: release 8 not kept")
        # Each refused set: exit 2, one line with its cause, nothing sent, no report.
        for name, release, change, words in refused_set_rows():
            set_dir, manifest = runs.fresh_set(release)
            if change:
                change(set_dir, manifest)
                if name == "expired":
                    keys.sign("a", manifest)
            status, err, sent, report = runs.update(set_dir, manifest)
            if status != 2 or words not in err or len(err.strip().splitlines()) != 1 or sent \
                    or report is not None:
                failures.append("%s: exit %d, %r, unit received %s, report %s" % (
                    name, status, err, sent[:3], report is not None))
        # A downgrade asked for goes out and says so; the release kept stays the higher one.
        status, err, sent, report = runs.update(set_dir, manifest, "--allow-downgrade")
        set_fields = (report or {}).get("set", {})
        if status != 0 or not set_fields.get("downgrade") or not set_fields.get(
                "downgrade_allowed") or set_fields.get("previous_release") != 8:
            failures.append("downgrade: exit %d %s, set %s" % (status, err, set_fields))
        with open(os.path.join(runs.state, "release-KQ-A2.state")) as f:
            if "release 8\n" not in f.read():
                failures.append("downgrade: the release kept went down")
        # Without a manifest the report still names the files' digest.
        set_dir, manifest = runs.fresh_set(1)
        status, err, sent, report = runs.update(set_dir, None)
        set_fields = (report or {}).get("set", {})
        if status != 0 or set_fields.get("signed") is not False or set_fields.get(
                "sha256") != file_lines_digest(manifest):
            failures.append("unsigned: exit %d %s, set %s" % (status, err, set_fields))
        failures += schema_failures(folder)
    finally:
        unit.stop()
    return failures


def schema_failures(folder):
    """Every report of the runs against the update report's schema."""
    import jsonschema
    with open(os.path.join(ROOT, "docs", "schema", "update-report.schema.json")) as f:
        schema = json.load(f)
    failures = []
    for name in sorted(os.listdir(folder)):
        if name.startswith("report-"):
            with open(os.path.join(folder, name)) as f:
                try:
                    jsonschema.validate(json.load(f), schema)
                except jsonschema.ValidationError as error:
                    failures.append("%s: %s" % (name, error.message))
    return failures


def run_rows(cli, folder, kqunit=None):
    """The signature rows (and with kqunit the set rows); the failures."""
    os.makedirs(folder, exist_ok=True)
    keys = Keys(folder)
    set_dir, other_dir = os.path.join(folder, "set"), os.path.join(folder, "other")
    make_sample_set.make_set(set_dir, only=["fpga5m", "web0", "logo"])
    make_sample_set.make_set(other_dir, only=["fpga5m", "web0"])
    manifest, other = os.path.join(folder, "set.manifest"), os.path.join(folder, "other.manifest")
    make_manifest(cli, set_dir, manifest, 3)
    make_manifest(cli, other_dir, other, 3)
    failures = check_signature_rows(cli, keys, folder, set_dir, manifest, other)
    if kqunit:
        os.makedirs(os.path.join(folder, "runs"))
        failures += check_set_rows(cli, keys, os.path.join(folder, "runs"), kqunit)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True, help="the program and its first arguments")
    parser.add_argument("--kqunit")
    args = parser.parse_args()
    program = shlex.split(args.cli)
    with tempfile.TemporaryDirectory(prefix="signed-set-") as folder:
        failures = run_rows(lambda arguments: run(program + arguments), folder, args.kqunit)
    for failure in failures:
        print("FAILED", failure)
    print("%d failed" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
