"""The fleet page from kept runs that the tests write: what each unit runs, its history, the
sites' notes, hostile texts and the size and time of a large fleet."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import contextlib
import io
import json
import os
import sys
import time

import pytest
from ansible.module_utils import basic

FLEET = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "..", ".."))
ROOT = os.path.abspath(os.path.join(FLEET, "..", "..", "..", ".."))
sys.path[:0] = [os.path.join(FLEET, "plugins", "modules"), os.path.join(ROOT, "ansible"),
                os.path.join(ROOT, "tests", "sites")]
import kqvorlink_fleet_page as mod  # noqa: E402
from page_browser import PageBrowser  # noqa: E402

OLD, NEW = "KQ-A2.01.02.45", "KQ-A2.01.02.12"
MARKUP = "<script>alert(1)</script>\"'&<b>"
HOSTILE = MARKUP + "\x01\u202e"


def unit(address, result="complete", before=OLD, after=NEW, message="Update Complete.",
         start="2026-12-07T19:30:01", end="2026-12-07T19:30:09", attempts=1, model="KQ-A2",
         **more):
    return dict(address=address, model=model, version_before=before, version_after=after,
                components=[], cpu_passes=0, result=result, message=message,
                message_kind="information", start=start, end=end, log=None, log_kept=False,
                attempts=attempts, **more)


def checked(address, version=OLD, answered=True):
    return dict(address=address, answered=answered, message=None if answered else "No answer.",
                model="KQ-A2" if answered else None, version=version if answered else None,
                model_matches=answered, components=[], files=0, bytes=0, cpu_passes=0)


def report(kind, start, units, schema=None, end="", target=NEW):
    schema = schema or (1 if kind == "check" else 2)
    made = dict(schema=schema, report=kind, program="kqvorlink-cli", version="2.0.0.0",
                set=dict(folder="/set", model="KQ-A2"), start=start,
                end=start if end == "" else end, units=units, summary=dict.fromkeys(
                    ("answered", "not_answered", "model_matches") if kind == "check" else
                    ("complete", "current", "failed", "not_started"), 0))
    if kind == "update" and schema == 1:
        for u in units:
            del u["version_after"], u["attempts"]
    elif kind == "update":
        made["target_version"] = target
    return made


def keep(reports, site, made):
    runs = reports / site / "runs"
    runs.mkdir(parents=True, exist_ok=True)
    name = "%s-%s.json" % (made["start"].replace(":", ""), made["report"])
    (runs / name).write_text(json.dumps(made))


def run(check=False, **args):
    basic._ANSIBLE_ARGS = json.dumps({"ANSIBLE_MODULE_ARGS": dict(
        args, _ansible_check_mode=check)}).encode()
    out = io.StringIO()
    with contextlib.redirect_stdout(out), pytest.raises(SystemExit):
        mod.main()
    return json.loads(out.getvalue())


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    with PageBrowser(str(tmp_path_factory.mktemp("browser"))) as shown_by:
        yield shown_by


def page_of(tmp_path, browser, **args):
    """The module's result, and the page's tables as Chromium shows them ({id or number: rows
    of cell texts}, headings left out)."""
    result = run(reports=str(tmp_path), **args)
    assert browser.open(result["page"])
    tables = {t.get_attribute("id") or n: browser.table(t)[1:] for n, t in enumerate(
        browser.driver.find_elements("tag name", "table"))}
    return result, tables


def rows(tables, name):
    return {(r[0], r[1]): r[2:] for r in tables[name]}


def test_versions_history_and_notes_from_both_schemas(tmp_path, browser):
    a, b, c, d = "127.0.0.10", "127.0.0.11", "127.0.0.12", "127.0.0.13"
    keep(tmp_path, "s1", report("update", "2026-12-05T10:00:00", [unit(a), unit(b)], schema=1))
    keep(tmp_path, "s1", report("check", "2026-12-06T10:00:00", [checked(a, NEW), checked(
        b, answered=False), checked(c, answered=False), checked(d)]))
    last = report("update", "2026-12-07T10:00:00", [
        unit(a, "current", NEW, None, "Up to date."), unit(b, "failed", None, None, "No answer.",
                                                           attempts=3, model=None),
        unit(c, before="KQ-A2.01.02.01", start="2026-12-07T19:30:09", end="2026-12-07T19:31:05",
             attempts=2), unit(d, "failed", None, None, "Error : Device Type Wrong.", model=None)],
        end=None)
    keep(tmp_path, "s1", dict(last, finish_by="2026-12-07T19:40:00+01:00"))
    (tmp_path / "s2" / "runs").mkdir(parents=True)
    (tmp_path / "s2" / "runs" / "2026-12-07T100000-update.json").write_text("{")
    result, tables = page_of(tmp_path, browser, sites=["s0", "s1"])
    units = rows(tables, "units")
    # model, version, target, last result, message, last updated, from version, attempts
    assert units == {
        ("s1", a): ["KQ-A2", NEW, "yes", "current", "Up to date.", "2026-12-07 19:30:09", OLD,
                    "1"],
        # a complete schema-1 update that was not asked again: its version is not known
        ("s1", b): ["KQ-A2", "", "", "failed", "No answer.", "2026-12-07 19:30:09", OLD, "3"],
        ("s1", c): ["KQ-A2", NEW, "yes", "complete", "Update Complete.", "2026-12-07 19:31:05",
                    "KQ-A2.01.02.01", "2"],
        # c was silent at the check, then updated; d answered it, then failed before it told
        # its model: neither is one that did not answer
        ("s1", d): ["KQ-A2", OLD, "no", "failed", "Error : Device Type Wrong.", "", "", "1"]}
    # the timeline: c began a wave as a and b ended; the window's end; b's attempts
    with open(result["page"]) as f:
        page = f.read()
    assert all(t in page for t in ('title="wave 2 began 19:30:09', "window ends 19:40<",
                                          ">failed, 3 attempts<"))
    sites = {r[0]: r[1:] for r in tables["sites"]}
    assert sites["s0"][0] == "0" and "no report yet" in sites["s0"][-1]
    assert sites["s1"][:6] == ["4", NEW, "2", "1", "2026-12-06 10:00:00", "2026-12-07 10:00:00"]
    assert "did not end" in sites["s1"][-1] and "cannot be read" in sites["s2"][-1]
    assert result["counts"] == dict(sites=3, units=4, on_target=2, no_answer=1)
    browser.filter("result", "failed")
    assert [r[1] for r in browser.table("units")[1:]] == [b, d]
    history = {r[0]: r[1:] for r in tables[4]}  # s1's, newest run first
    assert history[b] == ["failed\n\nNo answer.", "no answer\n\nNo answer.",
                          "complete\n%s\nUpdate Complete." % OLD] and history[c][2] == ""
    assert history[c][0] == "complete\nKQ-A2.01.02.01\u2192%s\nUpdate Complete." % NEW


def test_waves_attempts_and_answers_as_the_report_gives_them(tmp_path):
    a, b, c, d = "127.0.0.20", "127.0.0.21", "127.0.0.22", "127.0.0.23"
    keep(tmp_path, "s1", report("check", "2026-12-06T10:00:00", [checked(
        a), checked(b, answered=False), checked(c), checked(d)]))
    t = "2026-12-07T19:30:%02d"
    # c began wave 2 before a ended; b answered its second attempt only, then failed; c and d
    # told nothing, b no model: only `answered` says who answered
    keep(tmp_path, "s1", report("update", "2026-12-07T19:30:00", [
        unit(a, wave=1, answered=True, runs=[dict(start=t % 1, end=t % 9, message="Done.")]),
        unit(b, "failed", model=None, start=t % 1, end=t % 50, attempts=2, wave=1,
             answered=True, runs=[dict(start=t % 1, end=t % 2, message="connect() Error"),
                                  dict(start=t % 40, end=t % 50, message="Error")]),
        unit(c, "failed", model=None, start=t % 5, wave=2, answered=False, runs=[]),
        unit(d, "failed", model=None, start=t % 5, wave=2, answered=False, runs=[])]))
    result = run(reports=str(tmp_path))
    with open(result["page"]) as f:
        page = f.read()
    assert 'title="wave 2 began 19:30:05">' in page and "every unit started" not in page
    assert 'title="attempt 1: connect() Error; 19:30:01 to 19:30:02">no answer<' in page
    assert 'title="attempt 2: Error; 19:30:40 to 19:30:50">failed, 2 attempts<' in page
    assert result["counts"]["no_answer"] == 2


def test_hostile_texts_are_shown_as_text(tmp_path, browser):
    keep(tmp_path, HOSTILE.replace("/", ""), report("update", "2026-12-07T10:00:00", [
        unit("127.0.0.10", "failed", HOSTILE, HOSTILE, HOSTILE, model=MARKUP)], target=HOSTILE))
    keep(tmp_path, "s", report("check", "2026-12-07T10:00:00", [checked("127.0.0.10", HOSTILE)]))
    result, tables = page_of(tmp_path, browser)
    shown = HOSTILE.replace("\x01", "\\x01").replace("\u202e", "\\u202E")
    units = rows(tables, "units")
    assert units[(shown.replace("/", ""), "127.0.0.10")][:5] == [MARKUP, shown, "yes", "failed",
                                                                 shown]
    assert units[("s", "127.0.0.10")][1] == shown
    assert browser.driver.execute_script("return document.scripts.length") == 1


def test_check_mode_writes_nothing_and_names_the_page(tmp_path):
    keep(tmp_path, "s", report("check", "2026-12-07T10:00:00", [checked("127.0.0.10")]))
    result = run(check=True, reports=str(tmp_path), dest=str(tmp_path / "p.html"))
    assert result["page"] == str(tmp_path / "p.html") and result["changed"]
    assert not os.path.exists(tmp_path / "p.html")
    assert run(reports=str(tmp_path), dest=str(tmp_path / "p.html"))["changed"]
    assert not run(reports=str(tmp_path), dest=str(tmp_path / "p.html"))["changed"]


def test_a_fleet_of_4096_units_with_20_runs_each(tmp_path, browser):
    for s in range(64):
        for r in range(20):
            start = "2026-11-%02dT02:%02d:00" % (r + 1, s % 60)
            keep(tmp_path, "site%02d" % s, report("update", start, [unit(
                "127.0.%d.%d" % (s, u), ("complete", "failed", "current")[(u + r) % 3],
                "KQ-A2.01.%02d.%02d" % (r, u), "KQ-A2.01.%02d.%02d" % (r + 1, u),
                "Update Complete. %d" % u, start, start[:-2] + "%02d" % u) for u in range(64)]))
    # Processor time: the wall clock of a machine shared with builds says more about them.
    started, cpu = time.monotonic(), time.process_time()
    result = run(reports=str(tmp_path))
    took, cpu = time.monotonic() - started, time.process_time() - cpu
    shown = browser.open(result["page"])
    assert shown, "not shown to its end"
    print("4096 units, 20 runs each: written in %.2f s (cpu %.2f s), %d bytes; shown to its end "
          "in %.2f s (browser cpu %.2f s)" % ((took, cpu, result["bytes"]) + shown))
    assert result["counts"]["units"] == 4096 and cpu < 5 and result["bytes"] < 8e6
    assert shown[1] < 3
