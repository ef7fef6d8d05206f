# -*- coding: utf-8 -*-
# Reading kqvorlink-cli's JSON reports: which reports can be read, when a unit is done, and
# how version texts compare. Every module of the collection that reads a report uses this.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import calendar
import datetime
import json
import re
import time

# The reports the collection reads, as docs/schema/<kind>-report.schema.json in the program's
# source describes them: (kind, schema) -> the summary's counts. A new schema is a new row.
REPORT_SCHEMAS = {
    ("update", 1): ("complete", "current", "failed", "not_started"),
    # 2 added the units' version_after and attempts, and target_version; later within it
    # their wave, runs and answered (absent from reports written before)
    ("update", 2): ("complete", "current", "failed", "not_started"),
    # 3 and check 2: every time carries its offset from UTC (report_moment reads both forms)
    ("update", 3): ("complete", "current", "failed", "not_started"),
    ("check", 1): ("answered", "not_answered", "model_matches"),
    ("check", 2): ("answered", "not_answered", "model_matches"),
}

# The results of an update report's unit after which it needs no further run.
DONE_RESULTS = ("complete", "current")

# What the program leaves out at the end of a version text before it compares it.
_BLANKS = b" \t\r\n"
_ESCAPED_BYTE = re.compile(r"\\x([0-9A-Fa-f]{2})")
_REPORT_TIME = re.compile(r"([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})"
                          r"(?:([+-])([0-9]{2}):([0-9]{2}))?")


def report_problem(report, kind=None):
    """Why `report` (a decoded JSON value) is no report of `kind` ("update", "check", or None
    for either) that can be read, or None when it can be."""
    if not isinstance(report, dict):
        return "is no JSON object"
    key = (report.get("report"), report.get("schema"))
    # Only a whole number (not true) may name a schema; a list would not even hash.
    whole = isinstance(key[1], int) and not isinstance(key[1], bool)
    counts = REPORT_SCHEMAS.get(key) if whole and kind in (None, key[0]) else None
    if counts is None:
        return "is no %s report of a known schema (report %r, schema %r)" % (
            kind or "update or check", report.get("report"), report.get("schema"))
    units, summary = report.get("units"), report.get("summary")
    if not isinstance(summary, dict) or any(k not in summary for k in counts):
        return "has no summary"
    if not isinstance(units, list) or not all(
            isinstance(u, dict) and isinstance(u.get("address"), str) for u in units):
        return "has no list of units with addresses"
    if not units:
        return "lists no unit"
    if "end" not in report:
        return "has no end"
    return None


def report_moment(text, zone=None):
    """Seconds since 1970 of a report's time: "2026-10-25T02:59:56+02:00" as its offset says;
    one without an offset (a report of schema 2 or check 1) as the local time of the host the
    report was written on, which this reader has to be: of two readings (the hour the clocks
    repeat) the earlier. `zone` gives that host's offset from UTC at a moment (default: this
    host's). None for anything that is no such time."""
    found = _REPORT_TIME.fullmatch(text) if isinstance(text, str) else None
    if not found:
        return None
    fields = [int(found.group(n)) for n in range(1, 7)]
    try:
        wall = calendar.timegm(datetime.datetime(*fields).timetuple())
    except ValueError:
        return None
    if found.group(7):
        east = int(found.group(8)) * 3600 + int(found.group(9)) * 60
        return wall - (east if found.group(7) == "+" else -east)
    zone = zone or (lambda moment: time.localtime(moment).tm_gmtoff)
    readings = [wall - zone(probe) for probe in (wall - 86400, wall, wall + 86400)]
    held = sorted(m for m in set(readings) if m + zone(m) == wall)
    # The hour the clocks skip: what the clocks in effect before it would have shown.
    return held[0] if held else wall - zone(wall - 86400)


def read_report(path, kind=None):
    """(report, None) when the file at `path` is a report that report_problem() accepts, else
    (None, a sentence that names the file and why it cannot be used)."""
    try:
        with open(path, "rb") as f:
            report = json.loads(f.read().decode("utf-8"))
    except (OSError, ValueError, RecursionError) as e:
        return None, "%s cannot be read (%s)" % (path, e)
    problem = report_problem(report, kind)
    return (None, "%s %s" % (path, problem)) if problem else (report, None)


def unit_done(unit):
    """Whether an update report's unit needs no further run: its result is "complete" or
    "current". Every other result, and a unit of a run that was cut off ("running",
    "waiting"), is to be run again."""
    return isinstance(unit, dict) and unit.get("result") in DONE_RESULTS


def unit_sent_components(unit):
    """Whether an update report's unit was sent any component: the number of uploads it
    acknowledged (components_acknowledged) when the report gives it, else, for reports
    written before, whether it lists components or completed."""
    acknowledged = unit.get("components_acknowledged") if isinstance(unit, dict) else None
    if isinstance(acknowledged, int) and not isinstance(acknowledged, bool):
        return acknowledged > 0
    return isinstance(unit, dict) and (bool(unit.get("components")) or unit.get("result") ==
                                       "complete")


def report_bytes(text):
    """The bytes a report's text stands for: each \\xHH is the byte HH (a unit's byte that is
    not UTF-8, or \\x5C for a backslash the unit sent before an x), everything else its UTF-8.
    None for anything but a string."""
    if not isinstance(text, str):
        return None
    out, at = bytearray(), 0
    for m in _ESCAPED_BYTE.finditer(text):
        out += text[at:m.start()].encode("utf-8", "surrogatepass")
        out.append(int(m.group(1), 16))
        at = m.end()
    return bytes(out + text[at:].encode("utf-8", "surrogatepass"))


def version_in_report(text):
    """A version text of a report (version, version_before, version_after, target_version) in
    the form the program compares it: its bytes without trailing blanks; None when the report
    has none (null)."""
    raw = report_bytes(text)
    return None if raw is None else raw.rstrip(_BLANKS)


def version_given(text):
    """A version text handed to the program (skip_version, target_version) in the form the
    program compares it: the bytes of its command-line argument without trailing blanks; None
    when none is given."""
    if not isinstance(text, str):
        return None
    return text.encode("utf-8", "surrogateescape").rstrip(_BLANKS)
