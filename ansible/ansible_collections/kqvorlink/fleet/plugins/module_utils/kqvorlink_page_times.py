# -*- coding: utf-8 -*-
# The times of the reports as the fleet page reads them: a time with its UTC offset
# (2026-10-25T02:59:56+02:00) is that moment; a time without one, from a report written before
# times carried their offset, is the site host's local time, read in the zone given (the
# controller's when none is). Moments order across the clock change and across sites.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import functools
import re
from datetime import datetime, timedelta, timezone

_TIME = re.compile(r"([0-9]{4})-([0-9]{2})-([0-9]{2})T([0-9]{2}):([0-9]{2}):([0-9]{2})"
                   r"(Z|[+-][0-9]{2}:[0-9]{2})?")


@functools.lru_cache(maxsize=1 << 16)
def _offset(text):
    if text == "Z":
        return timezone.utc
    hours, minutes = int(text[1:3]), int(text[4:6])
    if hours > 23 or minutes > 59:
        return None
    east = timedelta(hours=hours, minutes=minutes)
    return timezone(east if text[0] == "+" else -east)


def report_time(text, zone=None):
    """The moment of a report's time text as an aware datetime (in the offset the text gives,
    else in `zone`, a tzinfo, or the controller's local time), or None for anything else
    (null, a number, a date that does not exist, text of another form)."""
    if not isinstance(text, str):
        return None
    found = _TIME.fullmatch(text)
    if not found:
        return None
    try:
        clock = datetime(*(int(g) for g in found.groups()[:6]))
        if found.group(7) is None:
            return clock.replace(tzinfo=zone) if zone is not None else clock.astimezone()
        offset = _offset(found.group(7))
        return clock.replace(tzinfo=offset) if offset is not None else None
    except (ValueError, OverflowError):
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
