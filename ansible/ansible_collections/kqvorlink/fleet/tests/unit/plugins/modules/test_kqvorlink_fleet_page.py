"""The fleet page from kept runs that the tests write: what each unit runs, its history, the
sites' notes, hostile texts and the size and time of a large fleet."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import contextlib
import io
import json
import os
import re
import sys
import tempfile
import time

import pytest
from ansible.module_utils import basic
from hypothesis import HealthCheck, given, settings, strategies as st
from hypothesis.configuration import set_hypothesis_home_dir
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

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
    return dict(dict(address=address, model=model, version_before=before, version_after=after,
                     components=[], cpu_passes=0, result=result, message=message,
                     message_kind="information", start=start, end=end, log=None,
                     log_kept=False, attempts=attempts), **more)


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


@pytest.fixture(scope="module", autouse=True)
def zone():
    """Reports without offsets are read in the controller's zone: Berlin's, for every row."""
    was = os.environ.get("TZ")
    os.environ["TZ"] = "Europe/Berlin"
    time.tzset()
    yield
    if was is None:
        del os.environ["TZ"]
    else:
        os.environ["TZ"] = was
    time.tzset()


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


def by_heading(browser, table, key=0):
    """A shown table's rows as {heading: cell text}, keyed by their cell in column `key`."""
    shown = browser.table(table)
    return {r[key]: dict(zip(shown[0], r)) for r in shown[1:]}


def page_data(result):
    with open(result["page"]) as f:
        page = f.read()
    return page, json.loads(re.search(r'<script type="application/json" id="page-data">(.*?)'
                                      r'</script>', page, re.S).group(1))


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
    # model, version, target; last update: result, at, message, from version, attempts; last
    # check: result, version, at
    check_at = "2026-12-06 10:00:00 +01:00"
    assert units == {
        ("s1", a): ["KQ-A2", NEW, "yes", "current", "2026-12-07 19:30:09 +01:00", "Up to date.",
                    NEW, "1", "answered", NEW, check_at],
        # b's complete schema-1 update read no version back: its check says what it runs
        ("s1", b): ["KQ-A2", OLD, "no", "failed", "2026-12-07 19:30:09 +01:00", "No answer.", "",
                    "3",
                    "no answer", "", check_at],
        ("s1", c): ["KQ-A2", NEW, "yes", "complete", "2026-12-07 19:31:05 +01:00",
                    "Update Complete.", "KQ-A2.01.02.01", "2", "no answer", "", check_at],
        # c was silent at the check, then updated; d answered it, then failed before it told
        # its model: neither is one that did not answer
        ("s1", d): ["KQ-A2", OLD, "no", "failed", "2026-12-07 19:30:09 +01:00",
                    "Error : Device Type Wrong.", "", "1", "answered", OLD, check_at]}
    page, data = page_data(result)
    # the timeline: the window's end, b's attempts; no wave is guessed from a report without
    # the units' `wave` (c began as a and b ended)
    assert all(t in page for t in (">window ends 19:40<", ">failed, 3 attempts<"))
    assert "wave 2" not in page
    sites = {r[0]: r[1:] for r in tables["sites"]}
    assert sites["s0"][1] == "0" and "no report yet" in sites["s0"][-1]
    assert sites["s1"][1:9] == ["4", NEW, "2", "2", "1", "2026-12-06 10:00:00 +01:00",
                                "2026-12-07 10:00:00 +01:00", "2026-12-07 10:00:00 +01:00"]
    assert "did not end" in sites["s1"][-1] and "cannot be read" in sites["s2"][-1]
    assert result["counts"] == dict(sites=3, units=4, on_target=2, off_target=2, failed=2,
                                    no_answer=1)
    browser.filter("update", "failed")
    assert [r[1] for r in browser.table("units")[1:]] == [b, d]
    browser.driver.find_element("css selector", "details[data-site] summary").click()
    # built on the details' toggle event, which comes after the click
    built = WebDriverWait(browser.driver, 30).until(lambda d: d.find_elements(
        "css selector", "details[data-site] table"))
    history = {r[0]: r[1:] for r in browser.table(built[0])[1:]}  # s1's, newest run first
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
    assert "<title>wave 2 began 2026-12-07 19:30:05 +01:00<" in page
    assert "<title>attempt 1: connect() Error; 2026-12-07 19:30:01 +01:00 to 2026-12-07 " \
        "19:30:02 +01:00<" in page and ">failed, 2 attempts<" in page
    assert "<title>attempt 2: Error; 2026-12-07 19:30:40 +01:00 to" in page
    assert result["counts"]["no_answer"] == 2


def test_hostile_texts_are_shown_as_text(tmp_path, browser):
    keep(tmp_path, HOSTILE.replace("/", ""), report("update", "2026-12-07T10:00:00", [
        unit("127.0.0.10", "failed", HOSTILE, HOSTILE, HOSTILE, model=MARKUP)], target=HOSTILE))
    keep(tmp_path, "s", report("check", "2026-12-07T10:00:00", [checked("127.0.0.10", HOSTILE)]))
    result, tables = page_of(tmp_path, browser)
    shown = HOSTILE.replace("\x01", "\\x01").replace("\u202e", "\\u202E")
    units = rows(tables, "units")
    assert units[(shown.replace("/", ""), "127.0.0.10")][:6] == [
        MARKUP, shown, "yes", "failed", "2026-12-07 19:30:09 +01:00", shown]
    assert units[("s", "127.0.0.10")][1] == shown
    # the page's own script and its data, nothing added
    assert browser.driver.execute_script("return document.scripts.length") == 2


# Hypothesis keeps its files outside the collection (whose sanity tests read every file).
set_hypothesis_home_dir(os.path.join(tempfile.gettempdir(), "kqvorlink-hypothesis"))
# Reports as a kept file may hold them: every field of any type, times of every form.
ANY = st.one_of(st.none(), st.booleans(), st.integers(-2, 3), st.text(max_size=6),
                st.lists(st.none(), max_size=2), st.dictionaries(st.text(max_size=2), st.none(),
                                                                 max_size=1))
TIMES = st.one_of(ANY, st.sampled_from([
    "2026-10-25T02:59:56+02:00", "2026-10-25T02:00:03+01:00", "2026-12-07T19:30:01",
    "2026-02-30T10:00:00", "2026-12-07T10:00:00+24:00", "0001-01-01T00:00:00+14:00",
    "9999-12-31T23:59:59-14:00", "2026-12-07T10:00:00Z"]))
UNIT = st.fixed_dictionaries({"address": st.text(min_size=1, max_size=6)}, optional=dict(
    result=st.one_of(st.sampled_from(["complete", "current", "failed", "not started",
                                      "running", "waiting"]), ANY),
    start=TIMES, end=TIMES, wave=ANY, answered=ANY, attempts=ANY, model=ANY, version=ANY,
    version_before=ANY, version_after=ANY, message=ANY, components_acknowledged=ANY,
    cpu_passes=ANY, components=ANY, runs=st.one_of(ANY, st.lists(st.fixed_dictionaries(
        {}, optional=dict(start=TIMES, end=TIMES, message=ANY)), max_size=3))))
REPORT = st.one_of(ANY, st.fixed_dictionaries({
    "report": st.sampled_from(["update", "check"]), "schema": st.sampled_from([1, 2]),
    "summary": st.just(dict.fromkeys(("complete", "current", "failed", "not_started",
                                      "answered", "not_answered", "model_matches"), 0)),
    "units": st.lists(UNIT, max_size=4), "end": TIMES},
    optional=dict(start=TIMES, finish_by=TIMES, target_version=ANY)))


@settings(max_examples=150, deadline=None, derandomize=True, database=None,
          suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(REPORT, min_size=1, max_size=3))
def test_every_kept_report_is_shown_or_named(reports):
    with tempfile.TemporaryDirectory() as folder:
        os.makedirs(os.path.join(folder, "s", "runs"))
        names = []
        for n, made in enumerate(reports):
            names.append("2026-12-0%dT10000%d+0100-%s.json" % (n + 1, n, made.get(
                "report", "update") if isinstance(made, dict) else "check"))
            with open(os.path.join(folder, "s", "runs", names[-1]), "w") as f:
                json.dump(made, f)
        result = run(reports=folder)
        assert not result.get("failed"), result
        _page, data = page_data(result)
        shown = [r[2] for site in data["sites"] for r in site["runs"]]
        for name in names:
            assert any(name in problem for problem in result["problems"]) != (name in shown)


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


def test_last_update_and_last_check_side_by_side(tmp_path, browser):
    a, b, c = "127.0.3.1", "127.0.3.2", "127.0.3.3"
    # alpha: a set without a CPU program; c failed after a component was acknowledged
    keep(tmp_path, "alpha", report("update", "2026-12-07T10:00:00+01:00", [
        unit(a, after=None, components_acknowledged=2, cpu_passes=0),
        unit(c, "failed", after=None, components_acknowledged=1, cpu_passes=1)], target=OLD))
    # bravo: b failed in an update, then answered a check
    keep(tmp_path, "bravo", report("update", "2026-12-07T10:00:00+01:00", [
        unit(b, "failed", after=None, message="Error : 451", components_acknowledged=0)]))
    keep(tmp_path, "bravo", report("check", "2026-12-07T11:00:00+01:00", [checked(b)]))
    result, tables = page_of(tmp_path, browser)
    units = by_heading(browser, "units", 1)
    assert [units[a][k] for k in ("Version", "Target", "Last update")] == [OLD, "yes", "complete"]
    assert [units[c][k] for k in ("Version", "Target", "Last update")] == ["not known", "",
                                                                           "failed"]
    assert [units[b][k] for k in ("Last update", "Update message", "Last check",
                                  "Check's version", "Checked at")] == [
        "failed", "Error : 451", "answered", OLD, "2026-12-07 11:00:00 +01:00"]
    assert [o.text for o in browser.select("update").options] == ["all", "complete", "failed"]
    assert tables["versions"] == [[OLD, "2"], ["(not known)", "1"]]
    assert result["counts"]["failed"] == 2 and browser.cards()["failed in their last update"] \
        == "2 (67%)"


TEXT_BOXES = """return [].map.call(arguments[0].querySelectorAll('text'),function(t){
  var b=t.getBBox();return [t.textContent,b.x,b.y,b.width,b.height]})"""


def test_timeline_drawn_from_what_the_report_says(tmp_path, browser):
    t = "2026-12-07T19:%02d:%02d+01:00"
    # a 10-minute run, a window of 4 hours; `wave: null` is no wave
    keep(tmp_path, "s", dict(report("update", t % (20, 0), [
        unit("127.0.0.%d" % n, ("complete", "failed")[n % 2], start=t % (20 + n, 0),
             end=t % (21 + n, 0), wave=None, attempts=1 + n % 3) for n in range(10)],
        end=t % (31, 0)), finish_by="2026-12-07T23:20:00+01:00"))
    # waves a second apart and the window's end among them
    keep(tmp_path, "w", dict(report("update", t % (20, 0), [
        unit("127.0.0.%d" % n, start=t % (20, n), end=t % (30, 0), wave=n + 1)
        for n in range(4)], end=t % (30, 0)), finish_by=t % (20, 2)))
    _result, _tables = page_of(tmp_path, browser)
    drawn = [browser.driver.execute_script(TEXT_BOXES, svg) for svg in
             browser.driver.find_elements("css selector", "svg.tl")]
    assert not [b for b in drawn[0] if b[0].startswith("wave")]
    assert {b[0] for b in drawn[1]} >= {"wave 2", "wave 3", "wave 4", "window ends 19:20"}
    window = [b for b in drawn[0] if b[0] == "window ends 23:20"]
    ticks = [b for b in drawn[0] if re.fullmatch(r"19:[0-9]{2}", b[0])]
    # the window's end at the axis's end, the bars using the width; round ticks
    assert window and window[0][1] + window[0][3] <= 1000 and window[0][1] > 800
    assert len(ticks) >= 4 and {b[0] for b in ticks} >= {"19:20", "19:30"}
    for boxes in drawn:
        assert not [(p[0], q[0]) for n, p in enumerate(boxes) for q in boxes[n + 1:]
                    if p[1] < q[1] + q[3] and q[1] < p[1] + p[3] and p[2] < q[2] + q[4] and
                    q[2] < p[2] + p[4]]


def test_names_times_and_marks_as_an_operator_reads_them(tmp_path, browser):
    long_version = "KQ-" + "9" * 300
    keep(tmp_path, "__proto__", report("check", "2026-12-07T10:00:00+01:00", [
        checked("127.0.0.10", "__proto__"), checked("127.0.0.11", "KQ-A2.01.02.10"),
        checked("127.0.0.12", "KQ-A2.01.02.9"), checked("127.0.0.13", long_version)]))
    keep(tmp_path, ".trash", report("check", "2026-12-07T10:00:00+01:00", [checked("127.0.0.9")]))
    # across the autumn change: the second run began later, though its clock reads earlier
    keep(tmp_path, "s1", report("update", "2026-10-25T02:59:56+02:00", [unit(
        "127.0.0.20", start="2026-10-25T02:59:57+02:00", end="2026-10-25T02:59:59+02:00")]))
    keep(tmp_path, "s1", report("update", "2026-10-25T02:10:00+01:00", [unit(
        "127.0.0.20", "failed", message=["m"], start="2026-10-25T02:10:01+01:00",
        end="2026-10-25T02:10:05+01:00")]))
    keep(tmp_path, "s2", report("update", "2026-10-25T02:59:56+02:00", [unit(
        "127.0.0.21", start="2026-10-25T02:59:57+02:00", end="2026-10-25T02:59:59+02:00")]))
    result, tables = page_of(tmp_path, browser, sites=["s1", "s1"], unreachable=["s1"])
    sites = by_heading(browser, "sites")
    assert sorted(sites) == ["__proto__", "s1", "s2"] and len(tables["sites"]) == 3
    assert sites["s1"]["Last updated"] == sites["s1"]["Newest data"] == \
        "2026-10-25 02:10:00 +01:00"
    assert sites["s1"]["Reached by this run"] == "unreachable"
    assert "1 failed" in sites["s1"]["State"] and "unreachable" in sites["s1"]["State"]
    assert browser.driver.find_elements("css selector", "#sites tr.problem td")[0].text == "s1"
    assert re.fullmatch(r"Written at 20[0-9]{2}-[0-9]{2}-[0-9]{2} [0-9:]{8} [+-][0-9]{2}:[0-9]{2}",
                        browser.driver.find_element("id", "written").text.split(" from")[0])
    units = by_heading(browser, "units", 1)
    assert units["127.0.0.20"]["Update message"] == ""
    versions = [o.text for o in browser.select("version").options]
    assert versions.index("KQ-A2.01.02.9") < versions.index("KQ-A2.01.02.10")
    browser.filter("site", "__proto__")
    browser.filter("version", "__proto__")
    assert [r[1] for r in browser.table("units")[1:]] == ["127.0.0.10"]
    # nothing wider than the window, the long version wrapped
    assert browser.driver.execute_script(
        "return document.documentElement.scrollWidth <= document.documentElement.clientWidth")
    # sorted from the keyboard, by the moment a unit was updated
    browser.filter("site", "*")
    browser.filter("version", "*")
    heading = browser.driver.find_element("css selector", '#units th[data-key="updated"] button')
    heading.send_keys(Keys.ENTER)
    assert heading.find_element("xpath", "..").get_attribute("aria-sort") == "ascending"
    assert [r[1] for r in browser.table("units")[1:]][-1] == "127.0.0.20"


def test_sets_sent_are_compared_per_model_and_marked(tmp_path, browser):
    a, b, c, d = ("%x" % n * 64 for n in (10, 11, 12, 13))
    sent = {  # site: (model, digest, signed, release, a downgrade)
        "s1": ("KQ-A2", a, True, 7, False), "s2": ("KQ-A2", a, True, 7, False),
        "s3": ("KQ-A2", b, True, 6, False), "s4": ("KQ-A2", c, False, None, False),
        "s5": ("KQ-A2", a, True, 7, True), "s6": ("KQ-B2", d, True, 2, False),
        "s7": ("KQ-A2", "<b>" + a[3:], True, 9, False)}
    for n, (site, (model, digest, signed, release, down)) in enumerate(sorted(sent.items())):
        keep(tmp_path, site, dict(report("update", "2026-12-07T10:0%d:00+01:00" % n, [
            unit("127.0.0.10")]), set=dict(folder="/set", model=model, sha256=digest,
                                           signed=signed, release=release, signer="rel@kq",
                                           downgrade=down),
            operator=dict(user="root", host=site, text=MARKUP)))
    result, tables = page_of(tmp_path, browser)
    sites = by_heading(browser, "sites")
    marked = {s: [w for w in ("another set", "unsigned", "downgrade") if w in r["State"]]
              for s, r in sites.items()}
    assert marked == dict(s1=[], s2=[], s3=["another set"], s4=["another set", "unsigned"],
                          s5=["downgrade"], s6=[], s7=[])
    assert result["set_marks"] == dict(other_set=2, unsigned=1, downgrade=1)
    assert (sites["s3"]["Its set"], sites["s7"]["Its set"]) == (b[:12] + " release 6 by rel@kq", "")
    assert sites["s1"]["Started by"] == MARKUP + " (root@s1) at 2026-12-07 10:00:00 +01:00"
    assert sorted((r[0], r[4]) for r in tables["sets"]) == [
        (a[:12], "3"), (b[:12], "1"), (c[:12], "1"), (d[:12], "1")]
