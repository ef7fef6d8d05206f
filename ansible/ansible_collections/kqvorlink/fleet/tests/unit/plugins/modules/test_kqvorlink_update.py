"""The kqvorlink_update module's decisions: against reports that the real kqvorlink-cli writes
while it updates kqunit units (127.0.26.10-13; .12 refuses the logo, .13 is a KQ-B2), and
against hand-made broken ones that a stub writes, which stands for a dying program.

    KQ_BUILD=build/native /usr/bin/python3 -m pytest ansible/ansible_collections/kqvorlink/fleet/tests/unit

As root (the units bind ports 21 and 23), best in a network namespace of its own.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import importlib.util
import json
import os
import socket
import subprocess
import sys
import time
from unittest import mock

import pytest
from ansible.module_utils import basic

HERE = os.path.dirname(os.path.abspath(__file__))
FLEET = os.path.abspath(os.path.join(HERE, "..", "..", "..", ".."))
ROOT = os.path.abspath(os.path.join(FLEET, "..", "..", "..", ".."))
BUILD = os.environ.get("KQ_BUILD", os.path.join(ROOT, "build", "native"))
CLI = os.path.join(BUILD, "kqvorlink-cli")
UNITS = ["127.0.26.%d" % n for n in range(10, 14)]
CLEAN, REFUSING, OTHER = UNITS[:2], UNITS[2], UNITS[3]
SILENT = "127.0.26.20"
VERSION = "KQ-A2.01.02.45"  # kqunit's own
SCENARIO = '[%s]\ncommand "EXCM k_Lg" reply "550 Selector refused." always\n[%s]\nmodel KQ-B2\n' % (
    REFUSING, OTHER)

spec = importlib.util.spec_from_file_location(
    "kqvorlink_update", os.path.join(FLEET, "plugins", "modules", "kqvorlink_update.py"))
mod = importlib.util.module_from_spec(spec)
spec.loader.exec_module(mod)
sys.path.insert(0, os.path.join(ROOT, "sim"))
import make_sample_set  # noqa: E402


class Ended(Exception):
    pass


def run(tmp_path, check=False, **args):
    """The module's result; 'seconds' is how long it took."""
    own = tmp_path / "module-tmp"
    own.mkdir(exist_ok=True)
    args = dict(args, _ansible_check_mode=check, _ansible_tmpdir=str(own))
    basic._ANSIBLE_ARGS = json.dumps({"ANSIBLE_MODULE_ARGS": args}).encode()

    def end(failed):
        return lambda self, **kw: (_ for _ in ()).throw(Ended(dict(kw, failed=failed)))
    started = time.monotonic()
    with mock.patch.object(basic.AnsibleModule, "exit_json", end(False)), \
            mock.patch.object(basic.AnsibleModule, "fail_json", end(True)):
        with pytest.raises(Ended) as ended:
            mod.main()
    return dict(ended.value.args[0], seconds=time.monotonic() - started)


def listening(address):
    with socket.socket() as probe:
        return probe.connect_ex((address, 21)) == 0


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    """The units and an update set; (set folder, unit stores)."""
    folder = tmp_path_factory.mktemp("site")
    make_sample_set.make_set(str(folder / "set"), only={"web0", "logo"})
    (folder / "scenario.txt").write_text(SCENARIO)
    (folder / "store").mkdir()
    units = subprocess.Popen([os.path.join(BUILD, "kqunit"), "--address", "%s-%s" % (
        UNITS[0], UNITS[-1]), "--store", str(folder / "store"), "--scenario",
        str(folder / "scenario.txt")], stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 10
    while not all(listening(u) for u in (UNITS[0], UNITS[-1])):
        assert time.monotonic() < deadline and units.poll() is None, "kqunit does not listen"
        time.sleep(0.1)
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
    (dict(units=CLEAN, skip_version=VERSION), dict(failed=False, changed=False), []),
    (dict(units=[REFUSING, CLEAN[0]], jobs=1, stop_after_failures=1),
     dict(failed=True, not_complete=[REFUSING, CLEAN[0]]), ["not started"]),
    (dict(units=UNITS, jobs=1, timeout=1), dict(failed=True),
     ["time limit of 1 s ran out", "SIGTERM", "not started"]),
], ids=["clean units complete", "refused logo and other model named", "current units unchanged",
        "stop after a failure", "time limit"])
def test_update_of_real_units(tmp_path, site, args, want, said):
    result = update(tmp_path, site, **args)
    assert {k: result.get(k) for k in want} == want, result.get("msg")
    assert all(s in result.get("msg", "") for s in said), result.get("msg")
    assert "killed" not in result.get("msg", "")


def test_retry_from_the_report_itself_and_check_of_both(tmp_path, site):
    report = str(tmp_path / "reports" / "r.json")
    assert update(tmp_path, site, units=UNITS)["failed"]
    again = update(tmp_path, site, retry_from=report)
    assert [u["address"] for u in again["units"]] == [REFUSING, OTHER]
    assert "--retry-from=" + report in again["cmd"]
    kept = mod.identity(report)
    # A check writes nothing on the site host, not even the report's missing folder.
    checked = run(tmp_path, check=True, cli=CLI, set_dir=site, retry_from=report,
                  units=[CLEAN[1], SILENT], report=str(tmp_path / "none" / "r.json"))
    assert checked["failed"] and SILENT in checked["msg"] and "did not answer" in checked["msg"]
    assert [u["address"] for u in checked["units"]] == [REFUSING, OTHER, CLEAN[1], SILENT]
    assert checked["would_update"] == [REFUSING, CLEAN[1]]
    assert checked["check_report"]["summary"]["answered"] == 3
    assert mod.identity(report) == kept and not os.path.exists(tmp_path / "none")


def stub(tmp_path, body, report=None):
    """A program that runs `body` (sh), with $report the path given to --report and $made a
    hand-made report."""
    made = tmp_path / "made.json"
    made.write_text(report if isinstance(report, str) else json.dumps(report))
    path = tmp_path / "stub"
    path.write_text('#!/bin/sh\nmade=%s\nfor a; do case "$a" in --report=*) report="${a#--report='
                    '}";; esac; done\n%s\n' % (made, body))
    path.chmod(0o755)
    return str(path)


def made(kind="update", results=("complete",), end="2026-12-08T01:00:00", **top):
    units = [dict(address="127.0.26.%d" % (30 + i), result=r, answered=r == "complete",
                  model_matches=True, message=r) for i, r in enumerate(results)]
    summary = {k: 0 for k in mod.REPORT_SCHEMAS[(kind, 1)]}
    return dict(dict(schema=1, report=kind, start=end, end=end, summary=summary, units=units), **top)


@pytest.mark.parametrize("check, body, report, said", [
    (False, "cp $made $report", made(end=None), ["did not end"]),
    (False, "cp $made $report", made(schema=9), ["known schema"]),
    (False, "cp $made $report", made(results=()), ["lists no unit"]),
    (False, "cp $made $report; exit 1", made(results=("complete", "not started")),
     ["1 of 2", "127.0.26.31: not started"]),
    (False, "cp $made $report; exit 1", made(results=("running",)), ["running"]),
    (False, "cp $made $report; exit 1", made(), ["exit status 1"]),
    (False, "cp $made $report", "{", ["cannot be read"]),
    (True, "cp $made $report", made(), ["no check report"]),
    (True, "cp $made $report", made("check", results=("silent",)), ["did not answer"]),
    (True, "kill -ABRT $$", None, ["ended by SIGABRT", "wrote no report"]),
    (False, "cp $made $report; kill -SEGV $$", made(end=None, results=("running",)),
     ["ended by SIGSEGV", "did not end"]),
], ids=["null end", "unknown schema", "empty units", "not started after an interrupt",
        "running when cut off", "exit status without a failed unit", "no JSON",
        "update report in check mode", "unit silent in check mode", "crash in check mode",
        "crash after the first write"])
def test_broken_reports_and_crashes_fail(tmp_path, check, body, report, said):
    result = run(tmp_path, check=check, cli=stub(tmp_path, body, report), units=[SILENT],
                 set_dir=str(tmp_path), report=str(tmp_path / "r.json"))
    assert result["failed"] and all(s in result["msg"] for s in said), result["msg"]


@pytest.mark.parametrize("body, grace, said, seconds", [
    ("trap '' TERM; sleep 4", 1, "killed 1 s later", (2, 4)),
    ("trap 'sleep 1; cp $made $report; exit 1' TERM; sleep 6 & wait", 5, "SIGTERM", (2, 5)),
], ids=["killed only after its own bound", "ends within its bound"])
def test_time_limit_waits_for_the_programs_own_bound(tmp_path, body, grace, said, seconds):
    program = stub(tmp_path, body, made(results=("complete", "not started")))
    with mock.patch.object(mod, "longest_unit_run", lambda set_dir: grace):
        result = run(tmp_path, cli=program, units=[SILENT], timeout=1, set_dir=str(tmp_path),
                     report=str(tmp_path / "r.json"))
    assert result["failed"] and said in result["msg"], result["msg"]
    assert seconds[0] <= result["seconds"] < seconds[1]
    assert ("killed" in said) == ("killed" in result["msg"])


@pytest.mark.parametrize("args, said", [
    (dict(units=["--help"]), "refused its command line: kqvorlink-cli: UNIT '--help'"),
    (dict(units=CLEAN, retry_from="r.json", cli="/nonexistent/kqvorlink-cli"),
     "kqvorlink-cli not found: /nonexistent/kqvorlink-cli"),
    (dict(units=CLEAN, cli="made.json"), "cannot be started"),
    (dict(units=CLEAN, cli="abort"), "ended by SIGABRT"),
    (dict(units=CLEAN, jobs=0), "jobs must be 1 to 256"),
    (dict(units=CLEAN, jobs=257), "jobs must be 1 to 256"),
    (dict(units=CLEAN, stop_after_failures=0), "stop_after_failures must be 1 or more"),
    (dict(units=CLEAN, timeout=0), "timeout must be 1 or more"),
], ids=["refused unit", "missing program", "program that cannot start", "crash before writing",
        "no jobs", "too many jobs", "no failure allowed", "no time"])
def test_last_report_is_kept(tmp_path, site, args, said):
    report = tmp_path / "r.json"
    report.write_text(json.dumps(made(results=("failed",))))
    kept = mod.identity(str(report))
    abort = stub(tmp_path, "kill -ABRT $$", made())
    (tmp_path / "made.json").chmod(0o755)
    name = args.pop("cli", CLI)
    cli = {"made.json": str(tmp_path / "made.json"), "abort": abort}.get(name, name)
    if "retry_from" in args:
        args["retry_from"] = str(report)
    result = run(tmp_path, cli=cli, set_dir=site, report=str(report), **args)
    assert result["failed"] and said in result["msg"], result["msg"]
    assert mod.identity(str(report)) == kept
