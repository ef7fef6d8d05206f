"""The rehearsal's signed roll-out: a set whose manifest a throw-away Ed25519 key signed goes to
every site; the faulty site's copy has one changed byte on the way."""

import hashlib
import os
import shutil
import subprocess

from rehearsal_fleet import FAULTY, all_of, every

SIGNER, CHANGED, RELEASE = "release@kqvorlink.test", "LOGO.bmp", 7


def sign_set(r):
    """The manifest of r.set, its signature and the allowed signers, made as a release
    engineer makes them; the faulty site's copy of the set with one byte changed."""
    key, manifest = os.path.join(r.folder, "release_key"), os.path.join(r.folder, "set.manifest")
    subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", SIGNER, "-f", key],
                   check=True, timeout=60)
    subprocess.run([r.cli, "manifest", "--set", r.set, "--release", str(RELEASE), "--out",
                    manifest], check=True, timeout=60)
    subprocess.run(["ssh-keygen", "-Y", "sign", "-f", key, "-n", "kqvorlink-set", manifest],
                   check=True, timeout=60, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    signers = os.path.join(r.folder, "allowed_signers")
    with open(key + ".pub") as f, open(signers, "w") as out:
        out.write('%s namespaces="kqvorlink-set" %s\n' % (SIGNER, " ".join(f.read().split()[:2])))
    changed = os.path.join(r.folder, "set-changed")
    shutil.copytree(r.set, changed)
    with open(os.path.join(changed, CHANGED), "r+b") as f:
        f.seek(1000)
        byte = f.read(1)[0]
        f.seek(1000)
        f.write(bytes([byte ^ 0x01]))
    with open(manifest, "rb") as f:
        return manifest, signers, changed, hashlib.sha256(f.read()).hexdigest()


def steps(r, state):
    """(what is done, [(check name, check)]) of this play."""
    all_units = r.sites.sites[0].unit_addresses()
    clean = [s for s in r.sites.sites if s.name != FAULTY]

    def signed_play():
        manifest, signers, changed, state["digest"] = sign_set(r)
        group_vars = dict(r.group_vars, kqvorlink_manifest=manifest,
                          kqvorlink_allowed_signers=signers, kqvorlink_on_failed_check="update")
        path = r.sites.write_inventory(os.path.join(r.folder, "inventory-signed.json"),
                                       group_vars, lambda s: ["%s-%s" % (all_units[0],
                                                                         all_units[-1])])
        r.set_host_var(path, FAULTY, "kqvorlink_set", changed)
        state["before_signed"] = r.snapshot()
        r.playbook("update.yml", path)

    def same_set(site):
        report = r.report(site)
        got = (report["set"].get("signed"), report["set"].get("sha256"),
               report["set"].get("signer"), report["operator"].get("text"))
        return got == (True, state["digest"], SIGNER, "root"), "%s: %s" % (site, got)

    return [
        (signed_play, [
            ("the site whose copy has one changed byte fails naming the file; its units "
             "receive nothing", lambda: all_of([
                 r.recap_is(**dict(every({"failed": 0}), **{FAULTY: {"failed": 1}})),
                 r.failure_names(FAULTY, ["does not verify", CHANGED, "refused the run"]),
                 r.unchanged_except(state["before_signed"], [], FAULTY)])),
            ("the others complete, each report naming the signed set's digest, its signer "
             "and the operator", lambda: all_of(
                 [r.units_hold_set(s.name, all_units) for s in clean] +
                 [r.results(s.name, {a: "complete" for a in all_units}) for s in clean] +
                 [same_set(s.name) for s in clean])),
            ("the page marks the site that sent another set, the others name the signed one",
             lambda: r.page.sets_marked([FAULTY], state["digest"])),
        ]),
    ]
