# -*- coding: utf-8 -*-
# The roll-out settings as kqvorlink-cli reads them (--waves, --max-fail-percent, --finish-by),
# so that a check refuses what an update would refuse, and the end of a maintenance window
# given as a clock time can be fixed once for every site.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import calendar
import datetime
import re
import time

_COUNT = re.compile(r"[0-9]{1,9}")
_CLOCK = re.compile(r"([0-9]{2}):([0-9]{2})")
_ISO = re.compile(r"([0-9]{4})-([0-9]{2})-([0-9]{2})[T ]([0-9]{2}):([0-9]{2})(?::([0-9]{2}))?"
                  r"(Z|[+-][0-9]{2}:[0-9]{2})?")
_HALF_DAY = 12 * 3600


def waves_problem(text):
    """Why a wave list ("1,10%,100%": cumulative sizes, each a count of units or a share of
    them) is refused, or None. Only the form counts: the sizes are fitted to the units."""
    if text == "":
        return None
    for item in text.split(","):
        share = item.endswith("%")
        digits = item[:-1] if share else item
        if not _COUNT.fullmatch(digits) or int(digits) == 0 or (share and int(digits) > 100):
            return "'%s': each size is a number of units (1 or more) or a share from 1%% to " \
                   "100%%" % text
    return None


def _local_moment(year, month, day, hour, minute, second):
    """The moment of a local date and time, or None when the day has no such time (the 31st
    of a short month, the hour the clocks skip)."""
    try:
        moment = time.mktime((year, month, day, hour, minute, second, 0, 0, -1))
    except (OverflowError, ValueError):
        return None
    made = time.localtime(moment)
    if (made.tm_mday, made.tm_hour, made.tm_min) != (day, hour, minute):
        return None
    return int(moment)


def nearest_clock_time(hour, minute, now):
    """The moment of the local clock time nearest to `now` (seconds since 1970), before or
    after it; of two twelve hours away, the later one."""
    today = datetime.date.fromtimestamp(now)
    found = None
    for days in (-1, 0, 1):
        date = today + datetime.timedelta(days=days)
        moment = _local_moment(date.year, date.month, date.day, hour, minute, 0)
        if moment is not None and (found is None or (abs(moment - now), -moment) < (
                abs(found - now), -found)):
            found = moment
    return found


def finish_by_moment(text, now):
    """(seconds since 1970, None) for a window's end: "HH:MM" (local time, its nearest
    occurrence to `now`) or an ISO 8601 date and time "YYYY-MM-DDTHH:MM[:SS]" (local time)
    with an optional "Z" or "+HH:MM" offset; else (None, why it is refused)."""
    why = "'%s': give HH:MM (local time) or an ISO 8601 date and time such as " \
          "2026-12-24T06:00 (local) or 2026-12-24T05:00Z" % text
    clock = _CLOCK.fullmatch(text)
    if clock:
        hour, minute = int(clock.group(1)), int(clock.group(2))
        moment = nearest_clock_time(hour, minute, now) if hour < 24 and minute < 60 else None
        return (None, why) if moment is None else (moment, None)
    iso = _ISO.fullmatch(text)
    if not iso:
        return None, why
    year, month, day, hour, minute = (int(iso.group(n)) for n in range(1, 6))
    second, zone = int(iso.group(6) or 0), iso.group(7)
    if not (1 <= month <= 12 and 1 <= day <= 31 and hour < 24 and minute < 60 and second < 60):
        return None, why
    if not zone:
        moment = _local_moment(year, month, day, hour, minute, second)
        return (None, why) if moment is None else (moment, None)
    hours, minutes = (0, 0) if zone == "Z" else (int(zone[1:3]), int(zone[4:6]))
    try:
        datetime.date(year, month, day)
    except ValueError:
        return None, why
    if hours > 23 or minutes > 59:
        return None, why
    east = -1 if zone[0] == "-" else 1
    utc = calendar.timegm((year, month, day, hour, minute, second, 0, 0, 0))
    return utc - east * (hours * 3600 + minutes * 60), None


def local_iso(moment):
    """A moment as local ISO 8601 date and time with its offset, 2026-12-08T06:00:00+01:00."""
    return datetime.datetime.fromtimestamp(moment, datetime.timezone.utc).astimezone().isoformat(
        timespec="seconds")


def resolved_finish_by(text, now):
    """A window's end that means the same moment wherever and whenever it is read: a clock
    time "HH:MM" becomes the local date, time and offset of its nearest occurrence to `now`;
    anything else is returned as it is."""
    if isinstance(text, str) and _CLOCK.fullmatch(text):
        moment, why = finish_by_moment(text, now)
        if why is None:
            return local_iso(moment)
    return text
