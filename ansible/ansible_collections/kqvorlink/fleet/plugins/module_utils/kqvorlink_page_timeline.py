# -*- coding: utf-8 -*-
# A site's last update as a picture: inline SVG, a row a unit with a segment per attempt, a
# time axis with ticks at round times, the waves' starts (from the report's own `wave` fields)
# and the window's end as marks in lanes of their own, so that no label lies over another.
# Three steps: the scale (times to x), the layout (what goes where) and the drawing (SVG text).

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from datetime import timedelta

from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_page_text import (
    RESULT_CLASS, text)
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_page_times import (
    shown_time)

WIDTH, LEFT, RIGHT = 1000, 130, 990  # the picture's units; bars run from LEFT to RIGHT
ROW, LANE, AXIS = 16, 14, 26
CHAR = 6.2  # about the width of a character of the labels
# Round steps between ticks, in seconds; the axis takes the first that gives at most MOST_TICKS.
STEPS = (1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200,
         86400, 172800, 604800)
MOST_TICKS = 8


class Scale:
    """Moments to x: from the first time of the run to its last; a window that ends beyond the
    last is drawn at the axis's end (`window_beyond`) rather than squeezing every bar."""

    def __init__(self, first, last, finish_by):
        self.first, self.last = first, last
        self.span = max((last - first).total_seconds(), 1.0)
        self.window_beyond = finish_by is not None and finish_by > last
        self.finish_by = finish_by

    def x(self, moment):
        share = (moment - self.first).total_seconds() / self.span
        return LEFT + (RIGHT - LEFT) * min(max(share, 0.0), 1.0)

    def ticks(self):
        """(x, label) at round times of the run's own clock."""
        step = next((s for s in STEPS if self.span / s <= MOST_TICKS), STEPS[-1])
        zone = self.first.tzinfo
        local = self.first.astimezone(zone)
        offset = local.utcoffset().total_seconds()
        at = -((-(local.timestamp() + offset)) // step) * step - offset  # the first round one
        out = []
        while at <= self.last.timestamp() and len(out) <= MOST_TICKS + 1:
            moment = self.first + timedelta(seconds=at - self.first.timestamp())
            out.append((self.x(moment), moment.astimezone(zone).strftime(
                "%H:%M:%S" if step < 60 else "%H:%M")))
            at += step
        return out


def unit_spans(run, entry):
    """The unit's wave and [(start, end or None, message)] of its attempts that began, as
    moments (a report without `runs`: its first start and last end)."""
    start, end, wave, attempts = entry.times()
    attempts = [(run.time(s), run.time(e), m) for s, e, m in attempts]
    attempts = [a for a in attempts if a[0] is not None]
    if not attempts and run.time(start):
        attempts = [(run.time(start), run.time(end), None)]
    return wave, attempts


def scale_of(run, spans):
    times = [t for _wave, unit in spans for span in unit for t in span[:2] if t is not None]
    times += [t for t in (run.start, run.end) if t is not None]
    if not times:
        return None
    return Scale(min(times), max(times), run.finish_by)


def label_place(x0, x1, label):
    """(x, anchor) of a bar's label: inside the bar when it fits, else after it, else before."""
    width = len(label) * CHAR + 6
    if x1 - x0 >= width:
        return x0 + 3, "start"
    if x1 + width <= RIGHT:
        return x1 + 3, "start"
    return max(x0 - 3, LEFT), "end"


def in_lanes(marks):
    """Marks [(x, label, class, title)] each in the first lane where it meets no other label."""
    ends, placed = [], []
    for x, label, kind, title in sorted(marks):
        width = len(label) * CHAR + 6
        left = x - width if x + width > WIDTH else x
        lane = next((n for n, end in enumerate(ends) if end < left), len(ends))
        if lane == len(ends):
            ends.append(0)
        ends[lane] = left + width
        placed.append((x, lane, label, kind, title, "end" if left < x else "start"))
    return placed, len(ends)


def layout(run, units):
    """What the picture holds: its scale, the rows of bars and labels, and the marks."""
    spans = [unit_spans(run, entry) for _address, entry in units]
    scale = scale_of(run, spans)
    if scale is None:
        return None
    rows = []
    for (address, entry), (_wave, attempts) in zip(units, spans):
        word = entry.result + ("" if (entry.attempts or 0) < 2 else
                               ", %d attempts" % entry.attempts)
        segments = []
        for n, (start, end, message) in enumerate(attempts, 1):
            last = n == len(attempts)
            title = "%s to %s" % (shown_time(start), shown_time(end) or "no end")
            if len(attempts) > 1:
                title = "attempt %d: %s; %s" % (n, message or "", title)
            segments.append((scale.x(start), scale.x(end) if end else RIGHT,
                             RESULT_CLASS.get(entry.result, "off") if last else "bad", title))
        x0, x1 = (segments[-1][0], segments[-1][1]) if segments else (LEFT, LEFT)
        rows.append((address, segments, word, label_place(x0, x1, word)))
    marks = []
    waves = {}
    for wave, attempts in spans:
        if wave and wave > 1 and attempts:
            waves[wave] = min(waves.get(wave, attempts[0][0]), attempts[0][0])
    for number, start in sorted(waves.items()):
        marks.append((scale.x(start), "wave %d" % number, "wave",
                      "wave %d began %s" % (number, shown_time(start))))
    if run.finish_by is not None:
        at = RIGHT if scale.window_beyond else scale.x(run.finish_by)
        marks.append((at, "window ends %s" % run.finish_by.strftime("%H:%M"), "end",
                       "the window ended %s" % shown_time(run.finish_by)))
    placed, lanes = in_lanes(marks)
    return scale, rows, placed, lanes


def draw(site_name, run, units):
    """The SVG of a site's last update, or a note when it holds no time to draw."""
    laid = layout(run, units)
    if laid is None:
        return '<p class="note">no unit of it started</p>'
    scale, rows, marks, lanes = laid
    top = lanes * LANE + 4
    bottom = top + len(rows) * ROW
    height = bottom + AXIS
    out = ['<svg class="tl" viewBox="0 0 %d %d" role="img" aria-label="%s">' % (
        WIDTH, height, text("%s: timeline of the last update" % site_name))]
    for y, (address, segments, word, (lx, anchor)) in enumerate(rows):
        y = top + y * ROW
        out.append('<text class="addr" x="%d" y="%d">%s</text>' % (LEFT - 6, y + 12, text(address)))
        for x0, x1, kind, title in segments:
            out.append('<rect class="%s" x="%.1f" y="%d" width="%.1f" height="%d"><title>%s'
                       '</title></rect>' % (kind, x0, y + 2, max(x1 - x0, 2.0), ROW - 4,
                                            text(title)))
        out.append('<text x="%.1f" y="%d" text-anchor="%s">%s</text>' % (lx, y + 12, anchor,
                                                                         text(word)))
    for x, lane, label, kind, title, anchor in marks:
        out.append('<g class="mark %s"><title>%s</title><line x1="%.1f" x2="%.1f" y1="%d" '
                   'y2="%d"/><text x="%.1f" y="%d" text-anchor="%s">%s</text></g>' % (
                       kind, text(title), x, x, lane * LANE + 2, bottom, x + (
                           3 if anchor == "start" else -3), lane * LANE + 12, anchor, text(label)))
    out.append('<line class="axis" x1="%d" x2="%d" y1="%d" y2="%d"/>' % (LEFT, RIGHT, bottom,
                                                                        bottom))
    for x, label in scale.ticks():
        out.append('<line class="axis" x1="%.1f" x2="%.1f" y1="%d" y2="%d"/><text class="tick" '
                   'x="%.1f" y="%d">%s</text>' % (x, x, bottom, bottom + 5, x, bottom + 17,
                                                   label))
    out.append("</svg>")
    return "".join(out)
