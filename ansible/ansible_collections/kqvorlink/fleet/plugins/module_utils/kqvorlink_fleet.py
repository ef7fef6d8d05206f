# -*- coding: utf-8 -*-
# The fleet as the kept runs on the controller tell it: every site's runs in the order they
# began, every unit's history across them, what each unit runs now and the counts of the fleet.
# The reports are read by kqvorlink_reports; this file puts them side by side. Whatever a kept
# report holds, it is either a run of its site or named in the site's problems.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os
import re

from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_page_times import (
    report_time)
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_reports import (
    DONE_RESULTS, read_report, version_given, version_in_report)
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_sets import (
    compare_sites, set_sent)

RUNS = "runs"
# The last reports, read for a site that has no kept run yet (runs from before they were kept).
LAST_REPORTS = ("check-update-report.json", "update-report.json")
# <start>-<kind>.json, the start without its colons (2026-10-25T025956+0200; older reports'
# starts have no offset).
KEPT_NAME = re.compile(
    r"^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{6}([+-][0-9]{4}|Z)?-(check|update)\.json$")
# A report larger than this is not read: it would make the page larger than any browser shows.
LARGEST_REPORT = 64 * 1024 * 1024


def text_or_none(value):
    return value if type(value) is str else None


def count(value):
    return value if type(value) is int and value >= 0 else None


class Entry:
    """One unit in one run, of either report kind. `version` is what the run learned the unit
    runs: a text, None when it learned nothing, UNKNOWN when it changed the unit without reading
    it back. `raw` is the report's unit while its run may be drawn (its times, wave and attempts
    are read only there); the site drops it for the others."""

    __slots__ = ("kind", "run", "result", "model", "before", "after", "version", "message",
                 "answered", "attempts", "raw")

    def __init__(self, kind, result, model, before, after, version, message, answered,
                 attempts=None, raw=None):
        self.kind, self.run, self.result, self.model = kind, None, result, model
        self.before, self.after, self.version = before, after, version
        self.message, self.answered, self.attempts, self.raw = message, answered, attempts, raw

    def times(self):
        """The unit's start and end texts, its wave and its attempts [(start, end, message)]."""
        raw = self.raw or {}
        runs = raw.get("runs")
        attempts = [(r.get("start"), r.get("end"), text_or_none(r.get("message")))
                    for r in runs if isinstance(r, dict)] if isinstance(runs, list) else []
        return raw.get("start"), raw.get("end"), count(raw.get("wave")), attempts


UNKNOWN = object()


def check_entry(unit):
    answered = unit.get("answered") is True
    version = text_or_none(unit.get("version")) if answered else None
    return Entry("check", "answered" if answered else "no answer", text_or_none(unit.get("model")),
                 version, None, version, text_or_none(unit.get("message")), answered)


def learned_version(unit, result, before, after):
    """What an update run learned the unit runs: read back after the update; else what it
    said before when nothing it was sent changes it (nothing acknowledged, or a complete update
    without the CPU program); UNKNOWN when components were acknowledged and nothing read back."""
    if after is not None:
        return after
    acknowledged = count(unit.get("components_acknowledged"))
    if acknowledged is None:  # reports written before it was given
        components = unit.get("components")
        acknowledged = 1 if (isinstance(components, list) and components) or \
            result == "complete" else 0
    if acknowledged == 0:
        return before
    if result == "complete" and count(unit.get("cpu_passes")) == 0:
        return before if before is not None else UNKNOWN
    return UNKNOWN


def update_entry(unit):
    get = unit.get
    result = text_or_none(get("result")) or "unknown"
    before, after = text_or_none(get("version_before")), text_or_none(get("version_after"))
    model = text_or_none(get("model"))
    answered = get("answered")
    if type(answered) is not bool:
        # a report without `answered`: what the unit told says it did; else it does not say
        answered = True if model is not None or result in DONE_RESULTS else None
    return Entry("update", result, model, before, after,
                 learned_version(unit, result, before, after), text_or_none(get("message")),
                 answered, count(get("attempts")), unit)


class Run:
    """One kept report: its kind, times (moments, None when absent or not a time), file and
    units [(address, Entry)], each address once (a repeated one is named in `doubled`)."""

    def __init__(self, report, path, zone):
        self.kind = report["report"]
        self.file = os.path.basename(path)
        self.start = report_time(report.get("start"), zone)
        self.end = report_time(report.get("end"), zone)
        self.ended = report.get("end") is not None
        self.finish_by = report_time(report.get("finish_by"), zone)
        self.target = text_or_none(report.get("target_version"))
        self.sent = set_sent(report, self.start.timestamp() if self.start else None) if (
            self.kind == "update") else None
        self.zone = zone
        entry = check_entry if self.kind == "check" else update_entry
        self.units, seen = [], set()
        for unit in report["units"]:
            if unit["address"] not in seen:
                seen.add(unit["address"])
                self.units.append((unit["address"], entry(unit)))
        self.doubled = len(report["units"]) - len(self.units)

    def time(self, text):
        """A unit's time text of this run as a moment."""
        return report_time(text, self.zone)

    def newest(self):
        return self.end or self.start


def read_run(path, zone):
    """One kept report as a Run, or (None, why it cannot be shown)."""
    try:
        if os.path.getsize(path) > LARGEST_REPORT:
            return None, "%s is larger than %d bytes" % (path, LARGEST_REPORT)
    except OSError as e:
        return None, "%s cannot be read (%s)" % (path, e)
    report, problem = read_report(path)
    if problem:
        return None, problem
    try:
        return Run(report, path, zone), None
    except (TypeError, ValueError, AttributeError, KeyError, OverflowError) as e:
        return None, "%s cannot be shown (%s: %s)" % (path, type(e).__name__, e)


def site_files(folder):
    """The site's kept runs; its last reports when it has none."""
    runs = os.path.join(folder, RUNS)
    try:
        kept = sorted(n for n in os.listdir(runs) if KEPT_NAME.match(n))
    except OSError:
        kept = []
    if kept:
        return [os.path.join(runs, n) for n in kept]
    return [os.path.join(folder, n) for n in LAST_REPORTS
            if os.path.isfile(os.path.join(folder, n))]


class Unit:
    """A unit of a site as its history (oldest run first) tells it."""

    def __init__(self, address):
        self.address = address
        self.history = []
        self.model = self.version = self.last_update = self.last_check = None
        self.no_answer = False
        self.on_target = None

    def settle(self, wanted):
        """What the unit is now; `wanted` is the target version's bytes or None."""
        for entry in self.history:
            self.model = entry.model or self.model
            if entry.answered is not None:
                self.no_answer = not entry.answered
            if entry.version is not None:
                self.version = entry.version
            if entry.kind == "update":
                self.last_update = entry
            else:
                self.last_check = entry
        known = self.version is not None and self.version is not UNKNOWN
        self.on_target = version_in_report(self.version) == wanted if (
            known and wanted is not None) else None

    def shown_version(self):
        return None if self.version is UNKNOWN else self.version


class Site:
    """One site: its runs (oldest first), units, target and what the page says of it. A field
    added here is a column away from the page (kqvorlink_page_html.SITE_COLUMNS)."""

    def __init__(self, name, reached):
        self.name = name
        self.reached = reached  # True, False (unreachable in this playbook run), None (not said)
        self.runs, self.units = [], {}
        self.problems = []  # the kept reports that cannot be shown, and why
        self.remarks = []  # what else the page should say of the site's reports
        self.target = None
        self.last_check = self.last_update = None
        self.set_marks = []  # why its last update's set stands out (kqvorlink_sets.MARKS)

    def newest_data(self):
        times = [r.newest() for r in self.runs if r.newest()]
        return max(times) if times else None

    def counts(self):
        units = self.units.values()
        return dict(units=len(self.units),
                    on_target=sum(1 for u in units if u.on_target),
                    off_target=sum(1 for u in units if u.on_target is False),
                    failed=sum(1 for u in units if u.last_update and
                               u.last_update.result == "failed"),
                    no_answer=sum(1 for u in units if u.no_answer))


def run_order(run):
    # Runs without a start (a report cut short) go first, in the order of their files' names.
    return (run.start is not None, run.start.timestamp() if run.start else 0, run.file)


def read_site(name, folder, target, zone, reached=None):
    site = Site(name, reached)
    for path in site_files(folder):
        run, problem = read_run(path, zone)
        if run:
            site.runs.append(run)
            if run.doubled:
                site.remarks.append("%s lists %d unit(s) more than once; the first is shown"
                                     % (path, run.doubled))
        else:
            site.problems.append(problem)
    site.runs.sort(key=run_order)
    for run in site.runs:
        if run.kind == "check":
            site.last_check = run
        else:
            site.last_update = run
    # The target given, as the program compares it; else the site's last update's.
    wanted = version_given(target)
    if target is None and site.last_update:
        target = site.last_update.target
        wanted = version_in_report(target)
    site.target = target
    for index, run in enumerate(site.runs):
        for address, entry in run.units:
            entry.run = index
            unit = site.units.get(address)
            if unit is None:
                unit = site.units[address] = Unit(address)
            unit.history.append(entry)
    for unit in site.units.values():
        unit.settle(wanted)
    # Only the last update is drawn, and only each unit's last update's time is shown.
    for unit in site.units.values():
        for entry in unit.history:
            if entry is not unit.last_update and site.runs[entry.run] is not site.last_update:
                entry.raw = None
    return site


def site_names(reports, sites):
    """The sites asked for, then every other folder of the reports folder that is not hidden,
    each once."""
    names = []
    for name in list(sites or []):
        if name not in names:
            names.append(name)
    try:
        found = sorted(n for n in os.listdir(reports) if not n.startswith(".") and
                       os.path.isdir(os.path.join(reports, n)))
    except OSError:
        found = []
    return names + [n for n in found if n not in names]


def read_fleet(reports, sites=None, target=None, unreachable=None, zone=None):
    """Every site of the fleet with its runs and units, and the fleet's counts. `unreachable`:
    the sites that this playbook run could not reach (None: not said); `zone`: the site hosts'
    zone for reports whose times have no offset."""
    fleet = dict(sites=[], target=target)
    unreachable = None if unreachable is None else set(unreachable)
    for name in site_names(reports, sites):
        # A name that is a path would read another folder's reports.
        if name in ("", ".", "..") or "/" in name or "\0" in name:
            continue
        reached = None if unreachable is None else name not in unreachable
        fleet["sites"].append(read_site(name, os.path.join(reports, name), target, zone, reached))
    units = [u for s in fleet["sites"] for u in s.units.values()]
    counts = dict(sites=len(fleet["sites"]), units=len(units), on_target=0, off_target=0,
                  failed=0, no_answer=0)
    for site in fleet["sites"]:
        for key, value in site.counts().items():
            if key != "units":
                counts[key] += value
    counts.update(models=tally(u.model for u in units),
                  versions=tally(u.shown_version() for u in units))
    marks, fleet["sets"], counts["sets"] = compare_sites(
        [(s, s.last_update.sent if s.last_update else None) for s in fleet["sites"]])
    for site in fleet["sites"]:
        site.set_marks = marks[site]
    fleet["counts"] = counts
    return fleet


def tally(values):
    counts = {}
    for value in values:
        counts[value] = counts.get(value, 0) + 1
    return sorted(counts.items(), key=lambda kv: (-kv[1], kv[0] is None, kv[0] or ""))
