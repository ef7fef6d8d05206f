# -*- coding: utf-8 -*-
# The times of the reports as the fleet page shows them: a time with its UTC offset
# (2026-10-25T02:59:56+02:00) is that moment; a time without one, from a report written before
# times carried their offset, is the site host's local time, read as kqvorlink_reports reads it
# (in the controller's zone unless one is given). Moments order across the clock change and
# across sites; each is shown on the clock and with the offset of its site host.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import calendar
import functools
from datetime import datetime, timedelta, timezone

from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_reports import (
    report_moment)


def report_time(text, zone=None):
    """The moment of a report's time text as an aware datetime in the offset its clock showed
    (the text's own, or for a text without one the offset of `zone` at that moment, as
    report_moment() reads it), or None for anything else (null, a number, a date that does
    not exist, text of another form)."""
    return _text_time(text, zone) if isinstance(text, str) else None


# Reports repeat their times (a run's start in every unit's first attempt).
@functools.lru_cache(maxsize=1 << 16)
def _text_time(text, zone):
    moment = report_moment(text, zone)
    if moment is None:
        return None
    try:
        wall = calendar.timegm(datetime(*(int(text[a:b]) for a, b in (
            (0, 4), (5, 7), (8, 10), (11, 13), (14, 16), (17, 19)))).timetuple())
        offset = timezone(timedelta(seconds=wall - moment))
        return datetime.fromtimestamp(moment, offset)
    except (ValueError, OverflowError, OSError):
        return None


def shown_time(moment, seconds=True):
    """A moment as the page shows it: its own local date and time, and its offset."""
    if moment is None:
        return ""
    text = moment.strftime("%Y-%m-%d %H:%M:%S" if seconds else "%Y-%m-%d %H:%M")
    return "%s %s" % (text, offset_text(moment))


def offset_text(moment):
    east = int(moment.utcoffset().total_seconds()) // 60
    return "%s%02d:%02d" % ("-" if east < 0 else "+", abs(east) // 60, abs(east) % 60)


def sort_key(moment):
    """Seconds since 1970 (UTC) as text, what the page's script orders times by."""
    return "" if moment is None else "%d" % moment.timestamp()
