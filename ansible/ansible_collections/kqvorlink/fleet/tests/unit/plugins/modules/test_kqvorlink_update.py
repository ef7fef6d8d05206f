"""The module's decisions, against reports of the real kqvorlink-cli (KQ_BUILD, default
build/native) updating kqunit units on 127.0.26.10-13 (.12 refuses the logo, .13 is a KQ-B2),
and against a stub that stands for a dying program. As root, best in a network namespace."""

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

FLEET = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "..", ".."))
ROOT = os.path.abspath(os.path.join(FLEET, "..", "..", "..", ".."))
BUILD = os.environ.get("KQ_BUILD", os.path.join(ROOT, "build", "native"))
CLI = os.path.join(BUILD, "kqvorlink-cli")
UNITS = ["127.0.26.%d" % n for n in range(10, 14)]
CLEAN, REFUSING, OTHER, SILENT = UNITS[:2], UNITS[2], UNITS[3], "127.0.26.20"
SCENARIO = '[%s]\ncommand "EXCM k_Lg" reply "550 Selector refused." always\n[%s]\nmodel KQ-B2\n'
GRACE = 5  # the program's own bound after SIGTERM, shortened

spec = importlib.util.spec_from_file_location(
    "kqvorlink_update", os.path.join(FLEET, "plugins", "modules", "kqvorlink_update.py"))
mod = importlib.util.module_from_spec(spec)
spec.loader.exec_module(mod)
sys.path.insert(0, os.path.join(ROOT, "sim"))
import make_sample_set  # noqa: E402


class Ended(Exception):
    pass


def run(tmp_path, check=False, **args):
    """The module's result, with the seconds it took."""
    (tmp_path / "own").mkdir(exist_ok=True)
    args = dict(args, _ansible_check_mode=check, _ansible_tmpdir=str(tmp_path / "own"))
    basic._ANSIBLE_ARGS = json.dumps({"ANSIBLE_MODULE_ARGS": args}).encode()

    def end(failed):
        return lambda self, **kw: (_ for _ in ()).throw(Ended(dict(kw, failed=failed)))
    started = time.monotonic()
    with mock.patch.object(basic.AnsibleModule, "exit_json", end(False)), \
            mock.patch.object(basic.AnsibleModule, "fail_json", end(True)), \
            mock.patch.object(mod, "longest_unit_run", lambda set_dir: GRACE), \
            pytest.raises(Ended) as ended:
        mod.main()
    return dict(ended.value.args[0], seconds=time.monotonic() - started)


def listening(address):
    with socket.socket() as probe:
        return probe.connect_ex((address, 21)) == 0


@pytest.fixture(scope="module")
def site(tmp_path_factory):
    """The units run; the update set's folder."""
    folder = tmp_path_factory.mktemp("site")
    make_sample_set.make_set(str(folder / "set"), only={"web0", "logo"})
    (folder / "scenario").write_text(SCENARIO % (REFUSING, OTHER))
    (folder / "store").mkdir()
    units = subprocess.Popen([os.path.join(BUILD, "kqunit"), "--address", "%s-%s" % (
        UNITS[0], UNITS[-1]), "--store", str(folder / "store"), "--scenario",
        str(folder / "scenario")], stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
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
    (dict(units=CLEAN, skip_version="KQ-A2.01.02.45"), dict(failed=False, changed=False), []),
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
    kept = mod.identity(report)
    # A check writes nothing on the site host, not even the report's missing folder.
    checked = run(tmp_path, check=True, cli=CLI, set_dir=site, retry_from=report,
                  units=[CLEAN[1], SILENT], report=str(tmp_path / "none" / "r.json"))
    assert checked["failed"] and SILENT + ": " in checked["msg"], checked["msg"]
    assert [u["address"] for u in checked["units"]] == [REFUSING, OTHER, CLEAN[1], SILENT]
    assert checked["would_update"] == [REFUSING, CLEAN[1]]
    assert checked["check_report"]["summary"]["answered"] == 3
    assert mod.identity(report) == kept and not os.path.exists(tmp_path / "none")


def stub(tmp_path, body, report=None):
    """A program that runs `body` (sh); $report is its --report, $made a hand-made report."""
    (tmp_path / "made.json").write_text(report if isinstance(report, str) else json.dumps(report))
    path = tmp_path / "stub"
    path.write_text('#!/bin/sh\nmade=%s/made.json\nfor a; do case "$a" in --report=*) report="${a#'
                    '--report=}";; esac; done\n%s\n' % (tmp_path, body))
    path.chmod(0o755)
    return str(path)


def made(kind="update", results=("complete",), end="2026-12-08T01:00:00", **top):
    units = [dict(address="127.0.26.%d" % (30 + i), result=r, answered=r == "complete",
                  model_matches=True, message=r) for i, r in enumerate(results)]
    summary = {k: 0 for k in mod.REPORT_SCHEMAS[(kind, 1)]}
    return dict(dict(schema=1, report=kind, start=end, end=end, summary=summary, units=units), **top)


CP = "cp $made $report"


@pytest.mark.parametrize("check, body, report, said", [
    (False, CP, made(end=None), ["did not end"]),
    (False, CP, made(schema=9), ["known schema"]),
    (False, CP, made(results=()), ["lists no unit"]),
    (False, CP + "; exit 1", made(results=("complete", "not started")), ["127.0.26.31: not st"]),
    (False, CP + "; exit 1", made(results=("running",)), ["running"]),
    (False, CP + "; exit 1", made(), ["exit status 1"]),
    (False, CP, "{", ["cannot be read"]),
    (True, CP, made(), ["no check report"]),
    (True, CP, made("check", results=("silent",)), ["did not answer"]),
    (True, "kill -ABRT $$", None, ["ended by SIGABRT", "wrote no report"]),
    (False, CP + "; kill -SEGV $$", made(end=None), ["ended by SIGSEGV", "did not end"]),
    (False, "trap '' TERM; sleep 9", made(), ["time limit", "killed %d s later" % GRACE]),
    (False, "trap 'sleep 1; %s; exit 1' TERM; sleep 9 & wait" % CP, made(), ["time limit"]),
], ids=["null end", "unknown schema", "empty units", "not started after an interrupt",
        "running when cut off", "exit status without a failed unit", "no JSON",
        "update report in check mode", "unit silent in check mode", "crash in check mode",
        "crash after the first write", "killed only after its own bound",
        "ends within its own bound"])
def test_broken_reports_and_dying_programs_fail(tmp_path, check, body, report, said):
    result = run(tmp_path, check=check, cli=stub(tmp_path, body, report), units=[SILENT],
                 set_dir=str(tmp_path), report=str(tmp_path / "r.json"), timeout=1)
    assert result["failed"] and all(s in result["msg"] for s in said), result["msg"]
    # SIGKILL comes only once the program's own bound after SIGTERM has run out.
    assert ("killed" in result["msg"]) == (result["seconds"] > 1 + GRACE)


@pytest.mark.parametrize("args, said", [
    (dict(units=["--help"]), "refused its command line: kqvorlink-cli: UNIT '--help'"),
    (dict(retry_from="r.json", cli="/nonexistent/kqvorlink-cli"),
     "kqvorlink-cli not found: /nonexistent/kqvorlink-cli"),
    (dict(cli="text"), "cannot be started"),
    (dict(cli="kill -ABRT $$"), "ended by SIGABRT"),
    (dict(cli="exit 0"), "wrote no report (exit status 0)"),
    (dict(jobs=0), "jobs must be 1 to 256"),
    (dict(jobs=257), "jobs must be 1 to 256"),
    (dict(stop_after_failures=0), "stop_after_failures must be 1 or more"),
    (dict(timeout=0), "timeout must be 1 or more"),
], ids=["refused unit", "missing program", "program that cannot start", "crash before writing",
        "no report written", "no jobs", "too many jobs", "no failure allowed", "no time"])
def test_last_report_is_kept(tmp_path, site, args, said):
    report = tmp_path / "r.json"
    report.write_text(json.dumps(made(results=("failed",))))
    kept = mod.identity(str(report))
    cli = args.pop("cli", CLI)
    if " " in cli:
        cli = stub(tmp_path, cli)
    elif cli == "text":  # executable, but no program
        (tmp_path / cli).write_text("no program\n")
        cli = str(tmp_path / cli)
        os.chmod(cli, 0o755)
    args = dict(dict(units=CLEAN), **args)
    if "retry_from" in args:
        args["retry_from"] = str(report)
    result = run(tmp_path, cli=cli, set_dir=site, report=str(report), **args)
    assert result["failed"] and said in result["msg"], result["msg"]
    assert mod.identity(str(report)) == kept
