"""The module's decisions against reports of the real kqvorlink-cli (KQ_BUILD, default
build/native) updating kqunit units on 127.0.26.10-13, and of a stub for a dying program."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import contextlib
import hashlib
import io
import json
import os
import re
import shutil
import subprocess
import sys
import time
from datetime import datetime
from unittest import mock
from zoneinfo import ZoneInfo

import pytest
from ansible.module_utils import basic

FLEET = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "..", ".."))
ROOT = os.path.abspath(os.path.join(FLEET, "..", "..", "..", ".."))
BUILD = os.environ.get("KQ_BUILD", os.path.join(ROOT, "build", "native"))
CLI = os.path.join(BUILD, "kqvorlink-cli")
UNITS = ["127.0.26.%d" % n for n in range(10, 14)]
CLEAN, REFUSING, OTHER, SILENT = UNITS[:2], UNITS[2], UNITS[3], "127.0.26.20"
# The refusing unit's version ends in a backslash and an x, which its report escapes; `check`
# shows its backslash as \x5c.
ESCAPED = "KQ-A2.01.02.45\\x41"
SHOWN = "KQ-A2.01.02.45\\x5cx41"
SCENARIO = ('[%s]\ncommand "EXCM k_Lg" reply "550 Selector refused." always\nversion "%s"\n'
            '[%s]\nmodel KQ-B2\n')
GRACE = 5  # the program's own bound after SIGTERM, shortened
BEFORE, AFTER = "KQ-A2.01.02.45", "KQ-A2.01.02.50"  # the units' version; one they never reach

# The module imports its module_utils from the collection, as Ansible ships them with it.
sys.path[:0] = [os.path.join(FLEET, "plugins", "modules"), os.path.join(ROOT, "sim"),
                os.path.join(ROOT, "ansible")]
import kqvorlink_update as mod  # noqa: E402
import make_sample_set  # noqa: E402
import yaml  # noqa: E402
from ansible_collections.kqvorlink.fleet.plugins.filter.finish_by_at import (  # noqa: E402
    finish_by_at)
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_reports import (  # noqa
    REPORT_SCHEMAS, report_moment)
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_rollout import (  # noqa
    finish_by_moment, later_day)

# Clock times are local: the site host's for the program and the module, the controller's for
# the role. Neither is taken for UTC.
os.environ["TZ"] = "Europe/Berlin"
time.tzset()


def run(tmp_path, check=False, **args):
    (tmp_path / "own").mkdir(exist_ok=True)
    args = dict(args, _ansible_check_mode=check, _ansible_tmpdir=str(tmp_path / "own"))
    basic._ANSIBLE_ARGS = json.dumps({"ANSIBLE_MODULE_ARGS": args}).encode()
    out, started = io.StringIO(), time.monotonic()
    with contextlib.redirect_stdout(out), pytest.raises(SystemExit), \
            mock.patch.object(mod, "longest_unit_run", lambda params: GRACE):
        mod.main()
    return dict(dict(failed=False, msg=""), seconds=time.monotonic() - started,
                **json.loads(out.getvalue()))


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    folder = tmp_path_factory.mktemp("site")
    make_sample_set.make_set(str(folder / "set"), only={"web0", "logo"})
    (folder / "scenario").write_text(SCENARIO % (REFUSING, ESCAPED.replace("\\", "\\\\"), OTHER))
    units = subprocess.Popen([os.path.join(BUILD, "kqunit"), "--address", "%s-%s" % (
        UNITS[0], UNITS[-1]), "--store", str(folder / "store"), "--scenario",
        str(folder / "scenario")], stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    assert any(not subprocess.call(["nc", "-z", UNITS[0], "21"]) and not subprocess.call(
        ["nc", "-z", UNITS[-1], "21"]) or time.sleep(0.1) for _ in range(100)), "no units"
    yield str(folder / "set")
    units.terminate()
    units.wait(10)


def update(tmp_path, site, **args):
    return run(tmp_path, cli=CLI, set_dir=site, report=str(tmp_path / "reports" / "r.json"),
               log_dir=str(tmp_path / "logs"), **args)


@pytest.mark.parametrize("args, want, said", [
    (dict(units=CLEAN), dict(failed=False, changed=True, not_complete=[], kept_logs=[]), []),
    (dict(units=UNITS), dict(failed=True, changed=True, not_complete=[REFUSING, OTHER]),
     ["2 of 4", REFUSING, OTHER, "550 Selector refused", "Device Type Wrong"]),
    (dict(units=[REFUSING, CLEAN[0]], jobs=1, stop_after_failures=1),
     dict(failed=True, not_complete=[REFUSING, CLEAN[0]]), ["not started"]),
    (dict(units=UNITS, jobs=1, timeout=1), dict(failed=True),
     ["time limit of 1 s ran out", "SIGTERM", "not started"]),
    (dict(units=CLEAN, target_version=AFTER), dict(failed=True, changed=True,
                                                   version_mismatch=CLEAN),
     ["2 unit(s) do not run %s after the update: %s: %s" % (AFTER, CLEAN[0], BEFORE)]),
    (dict(units=CLEAN, target_version=BEFORE), dict(failed=False, changed=False,
                                                    version_mismatch=[]), []),
    (dict(units=[REFUSING, CLEAN[0]], waves="1,100%"), dict(not_complete=[REFUSING, CLEAN[0]]),
     ["wave 2 of 2 not started"]),
    (dict(units=[CLEAN[0], REFUSING, CLEAN[1]], waves="2,100%", max_fail_percent=50),
     dict(not_complete=[REFUSING]), []),
    (dict(units=CLEAN, finish_by=lambda: time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(
        time.time() + 25))), dict(not_complete=CLEAN), ["would end after"]),  # 31 s a unit
    (dict(units=[SILENT], retry_unanswered=1, retry_delay=1, timeout=20),
     dict(failed=True, attempts=[2]), [SILENT + ": failed"]),
    (dict(units=[REFUSING, CLEAN[0]], skip_version=SHOWN + " \t", check=True),
     dict(failed=False, would_update=[CLEAN[0]]), []),
], ids=["clean units", "refused logo, other model", "stop after failure", "time limit",
        "target not reached", "target held already", "canary wave", "wave within budget",
        "window too short", "unanswered tried again", "version as check shows it"])
def test_update_of_real_units(tmp_path, site, args, want, said):
    result = update(tmp_path, site, **{k: v() if callable(v) else v for k, v in args.items()})
    result["attempts"] = [u.get("attempts") for u in result.get("units", [])]
    assert {k: result.get(k) for k in want} == want, result["msg"]
    assert all(s in result["msg"] for s in said) and "killed" not in result["msg"], result["msg"]


def test_retry_from_the_report_itself_and_check_of_both(tmp_path, site):
    report = str(tmp_path / "reports" / "r.json")
    assert update(tmp_path, site, units=UNITS)["failed"]
    again = update(tmp_path, site, retry_from=report)
    assert [u["address"] for u in again["units"]] == [REFUSING, OTHER]
    kept = mod.identity(report)
    # A check writes nothing on the site host, not even the report's missing folder.
    checked = run(tmp_path, check=True, cli=CLI, set_dir=site, retry_from=report,
                  units=[CLEAN[1], SILENT], report=str(tmp_path / "none" / "r.json"))
    assert checked["failed"] and SILENT + ": " in checked["msg"], checked["msg"]
    assert [u["address"] for u in checked["units"]] == [REFUSING, OTHER, CLEAN[1], SILENT]
    assert checked["would_update"] == [REFUSING, CLEAN[1]]
    assert checked["check_report"]["summary"]["answered"] == 3
    assert mod.identity(report) == kept and not os.path.exists(tmp_path / "none")


def test_a_signed_set_goes_out_with_its_evidence_and_changed_not_at_all(tmp_path, site,
                                                                         monkeypatch):
    monkeypatch.setenv("XDG_STATE_HOME", str(tmp_path / "state"))  # the releases sent
    key, manifest, signed = (str(tmp_path / n) for n in ("key", "set.manifest", "set"))
    shutil.copytree(site, signed)
    for cmd in (["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", key],
                [CLI, "manifest", "--set", signed, "--release", "3", "--out", manifest],
                ["ssh-keygen", "-q", "-Y", "sign", "-f", key, "-n", "kqvorlink-set", manifest]):
        subprocess.run(cmd, check=True, timeout=60, stdout=subprocess.DEVNULL)
    with open(key + ".pub") as f:
        (tmp_path / "signers").write_text('rel@kq namespaces="kqvorlink-set" ' + f.read())
    args = dict(units=[CLEAN[0]], manifest=manifest, allowed_signers=str(tmp_path / "signers"))
    assert "verified: KQ-A2 release 3" in update(tmp_path, signed, check=True, **args)["verdict"]
    sent = update(tmp_path, signed, operator="al", **args)
    with open(manifest, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    assert not sent["failed"] and (sent["set"]["signed"], sent["set"]["sha256"], sent["set"][
        "signer"], sent["operator"]["text"]) == (True, digest, "rel@kq", "al"), sent["msg"]
    with open(os.path.join(signed, "LOGO.bmp"), "r+b") as f:
        first = f.read(1)[0]
        f.seek(0)
        f.write(bytes([first ^ 1]))
    kept = mod.identity(sent["report"])
    for check in (True, False):
        refused = update(tmp_path, signed, check=check, **args)
        assert refused["failed"] and "'LOGO.bmp' differs from the manifest" in refused["msg"]
    assert mod.identity(sent["report"]) == kept


def made(kind="update", results=("complete",), end="2026-12-08T01:00:00", after=None, **top):
    units = [dict(address="127.0.26.%d" % (30 + i), result=r, answered=r == "complete",
                  model_matches=True, message=r, version_after=after) for i, r in enumerate(results)]
    summary = {k: 0 for k in REPORT_SCHEMAS[(kind, 1)]}
    return dict(dict(schema=1, report=kind, start=end, end=end, summary=summary, units=units),
                **top)


CP = "cp $made $report"
CHECK, EXIT1, ABORT = dict(check=True), CP + "; exit 1", "kill -ABRT $$"
SIGNED = dict(manifest="/m", allowed_signers="/s")
REFUSES_SET = '[ "$1" = verify ] && { echo "/m: one changed byte" >&2; exit 2; }; ' + CP
# name, program (a path; sh for a stub: $report its --report, $made), $made, message, arguments
FAILURES = [
    ("null end", CP, made(end=None), "did not end"),
    ("schema 9", CP, made(schema=9), "known schema"),
    ("schema [1]", CP, made(schema=[1]), "known schema"),
    ("no units", CP, made(results=()), "lists no unit"),
    ("interrupted", EXIT1, made(results=("complete", "not started")), "1 of 2.*31: not started"),
    ("exit 1, all done", EXIT1, made(), "exit status 1"),
    ("complete at another version", CP, made(schema=2, target_version=AFTER, after=BEFORE),
     "1 unit.* do not run %s after the update: 127.0.26.30: %s" % (AFTER, BEFORE)),
    ("no JSON", CP, "{", "cannot be read"),
    ("silent unit in check", CP, made("check", results=("silent",)), "did not answer", CHECK),
    ("crash in check", ABORT, None, "ended by SIGABRT.*wrote no report", CHECK),
    ("crash before writing", ABORT, None, "ended by SIGABRT.*wrote no report"),
    ("crash after writing", CP + "; kill -SEGV $$", made(end=None), "SIGSEGV.*did not end"),
    ("outlives SIGTERM", "trap '' TERM; sleep 9", made(), "time limit.*killed %d s" % GRACE),
    ("ends after SIGTERM", "trap 'sleep 1; %s; exit 1' TERM; sleep 9 & wait" % CP, made(), "time"),
    ("no report", "exit 0", None, r"wrote no report \(exit status 0\)"),
    ("refused", CLI, None, "refused its command line: .*'--help'", dict(units=["--help"])),
    ("no program", "/nonexistent/kqvorlink-cli", None, "not found: /nonexistent/kqvorlink-cli"),
    ("not a program", "text", None, "cannot be started"),
    ("jobs 0", CP, made(), "jobs must be 1 to 256", dict(jobs=0)),
    ("jobs 257", CP, made(), "jobs must be 1 to 256", dict(jobs=257)),
    ("stop after 0", CP, made(), "stop_after_failures must be 1 or", dict(stop_after_failures=0)),
    ("timeout 0", CP, made(), "timeout must be 1 or more", dict(timeout=0)),
    ("budget without waves", CP, made(), "max_fail_percent must .* waves",
     dict(max_fail_percent=10)),
    ("budget with an empty wave list", CP, made(), "max_fail_percent must .* waves",
     dict(max_fail_percent=0, waves="")),
    ("waves malformed in check", CP, made("check"), "waves: '1,,100%': each size",
     dict(CHECK, waves="1,,100%")),
    ("window malformed in check", CP, made("check"), "finish_by: '2026-02-30T06:00Z': give",
     dict(CHECK, finish_by="2026-02-30T06:00Z")),
    ("window closed in check", CP, made("check"), "closed at 20.*T.*[+-]0[12]:00;",
     dict(CHECK, finish_by=lambda: time.strftime("%H:%M", time.localtime(time.time() - 300)))),
    ("manifest alone", "exit 0", None, "together: manifest, allowed_signers", dict(manifest="/m")),
    ("signers from the set", "exit 0", None, "allowed_signers must not be in the set's folder",
     dict(SIGNED, set_dir=FLEET + "/roles/..", allowed_signers=FLEET + "/signers")),
    ("set refused in check", REFUSES_SET, made("check"), "does not verify .*: /m: one changed",
     dict(CHECK, **SIGNED)),
    ("set refused", 'echo "$@" >&2; exit 2', None, "refused the run before contacting any unit: "
     ".*--operator=al --manifest=/m --allowed-signers=/s --allow-downgrade --",
     dict(SIGNED, operator="al", allow_downgrade=True)),
    ("signed set sent unsigned", CP, made(set=dict(signed=False)), "not say that the set was "
     "verified against /m", SIGNED),
]


@pytest.mark.parametrize("cli, report, said, args", [r[1:] + ({},) * (5 - len(r)) for r in
                                                     FAILURES], ids=[r[0] for r in FAILURES])
def test_failures_name_their_cause_and_keep_the_last_report(tmp_path, site, cli, report, said,
                                                            args):
    for name, text in (("r.json", json.dumps(made(results=("failed",)))), ("made.json", report if
                       isinstance(report, str) else json.dumps(report)), ("text", "no program\n"),
                       ("stub", '#!/bin/sh\nmade=%s/made.json\nfor a; do case "$a" in --report=*) '
                        'report="${a#--report=}";; esac; done\n%s\n' % (tmp_path, cli))):
        (tmp_path / name).write_text(text)
        (tmp_path / name).chmod(0o755)
    old, kept = str(tmp_path / "r.json"), mod.identity(str(tmp_path / "r.json"))
    program = str(tmp_path / ("stub" if " " in cli else cli))
    result = run(tmp_path, **dict(dict(cli=program, set_dir=site, report=old, units=[SILENT],
                                       timeout=1), **{k: v() if callable(v) else v
                                                      for k, v in args.items()}))
    assert result["failed"] and re.search(said, result["msg"]), result["msg"]
    # SIGKILL comes only once the program's own bound after SIGTERM has run out.
    assert ("killed" in result["msg"]) == (result["seconds"] > 1 + GRACE)
    # Only a run that started replaces the last report; a check never does.
    assert (mod.identity(old) == kept) == ("check" in args or "cp " not in cli or "must" in said)


@pytest.mark.parametrize("unit, sent", [
    (dict(result="failed", components=[], components_acknowledged=1), True),
    (dict(result="complete", components=[], components_acknowledged=0), False),
], ids=["acknowledged before failing", "complete with nothing sent"])
def test_changed_when_a_unit_acknowledged_a_component(unit, sent):
    result = {}
    mod.judge_update(dict(made(schema=2), units=[dict(unit, address="127.0.26.30")]), result, None)
    assert result["changed"] is sent


def test_grace_before_sigkill_is_the_documented_bound(tmp_path):
    doc = " ".join(yaml.safe_load(mod.DOCUMENTATION)["options"]["timeout"]["description"])
    fixed, after, before, per_file = (int(n) for n in re.findall(r"(\d+) s for", doc))
    for name in ("a", "b", "c"):
        (tmp_path / name).write_text(name)
    for versions, files in ((dict(), 0), (dict(skip_version="x"), 3), (dict(target_version=""), 3)):
        params = dict(dict(skip_version=None, target_version=None), **versions)
        params["set_dir"] = str(tmp_path) if files else str(tmp_path / "none")
        assert mod.longest_unit_run(params) == fixed + after + before * bool(versions) + \
            per_file * files, versions


# The run began at 09:45 in Berlin (08:45Z); a clock time is its nearest occurrence.
@pytest.mark.parametrize("began, given, at", [
    ("2026-12-08T08:45:00Z", "09:40", "2026-12-08T09:40:00+01:00"),
    ("2026-12-08T08:45:00Z", "21:45", "2026-12-08T21:45:00+01:00"),
    ("2026-12-08T08:45:00Z", "21:46", "2026-12-07T21:46:00+01:00"),
    ("2026-03-29T00:30:00Z", "12:00", "2026-03-29T12:00:00+02:00"),
    ("2026-12-08T08:45:00Z", "2026-12-24T06:00", "2026-12-24T06:00"),
], ids=["closed five minutes ago", "twelve hours either way", "yesterday's is nearer",
        "offset of that day", "date and time as given"])
def test_role_resolves_a_clock_time_once(began, given, at):
    assert finish_by_at(given, began) == at


def zone_of(name):
    return lambda moment: int(datetime.fromtimestamp(moment, ZoneInfo(name)).utcoffset()
                              .total_seconds())


def at(text):
    return int(datetime.fromisoformat(text.replace("Z", "+00:00")).timestamp())


# A minute before and after each change of the clocks: the moment the program would take, or
# the refusal naming both readings; a closed window's hint is a time that exists and lies ahead.
@pytest.mark.parametrize("zone, now, given, want, hint", [
    ("Europe/Berlin", "2026-10-25T00:29Z", "02:30", "2026-10-25T00:30Z", None),
    ("Europe/Berlin", "2026-10-25T01:01Z", "02:30", "2026-10-25T01:30Z", None),
    ("Europe/Berlin", "2026-10-25T00:59Z", "2026-10-25T02:30",
     "2026-10-25T02:30+02:00 or 2026-10-25T02:30+01:00", None),
    ("Europe/Berlin", "2026-03-29T01:01Z", "02:30", "2026-03-30T00:30Z", None),
    ("America/New_York", "2026-03-08T06:30Z", "02:30", "2026-03-07T07:30Z",
     "2026-03-09T02:30-04:00"),
    ("America/New_York", "2026-12-08T11:00Z", "2026-12-01T06:00", "2026-12-01T11:00Z", ""),
    ("Australia/Lord_Howe", "2026-04-04T15:01Z", "01:45", "2026-04-04T15:15Z", None),
    ("Australia/Lord_Howe", "2026-10-03T15:29Z", "2026-10-04T02:15",
     "2026-10-04T02:15+10:30 or 2026-10-04T02:15+11:00", None),
], ids=["berlin repeated hour the coming reading", "berlin minute after the change",
        "berlin repeated hour refused", "berlin skipped hour tomorrow's",
        "new york hint names a day that has it",
        "new york date long passed no hint", "lord howe half hour repeated",
        "lord howe skipped half hour refused"])
def test_finish_by_across_the_changes_of_the_clocks(zone, now, given, want, hint):
    moment, why = finish_by_moment(given, at(now), zone_of(zone))
    if " or " in want:
        assert moment is None and want in why
        return
    assert (moment, why) == (at(want), None)
    if hint is not None:
        assert (later_day(moment, at(now), zone_of(zone)) or "") == hint


# Times of both forms read as the moments they were: with their offset, or (reports written
# before) as the local time of the site host; across the clocks going back they stay in order.
@pytest.mark.parametrize("text, want", [
    ("2026-10-25T02:59:56+02:00", "2026-10-25T00:59:56Z"),
    ("2026-10-25T02:00:03+01:00", "2026-10-25T01:00:03Z"),
    ("2026-10-25T04:00:00", "2026-10-25T03:00:00Z"),
    ("2026-07-01T12:00:00", "2026-07-01T10:00:00Z"),
    ("2026-10-25T02:30:00", "2026-10-25T00:30:00Z"),
    ("2026-02-30T12:00:00", None), ("2026-07-01 12:00:00", None), (None, None),
], ids=["offset before the change", "offset after it", "old winter", "old summer",
        "old repeated hour the earlier", "no such day", "no T", "null"])
def test_report_times_with_and_without_offset(text, want):
    assert report_moment(text, zone_of("Europe/Berlin")) == (want and at(want))
