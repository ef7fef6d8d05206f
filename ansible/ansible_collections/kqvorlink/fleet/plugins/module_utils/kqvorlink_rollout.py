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


def local_zone(moment):
    """The offset from UTC, in seconds east, of the host's local clocks at `moment`: the zone
    every function here takes unless it is given another (a function of the same kind)."""
    return time.localtime(moment).tm_gmtoff


def _wall(year, month, day, hour, minute, second):
    """A local date and time read as if it were UTC, or None when the date does not exist."""
    try:
        datetime.date(year, month, day)
    except ValueError:
        return None
    return calendar.timegm((year, month, day, hour, minute, second, 0, 0, 0))


def local_moments(year, month, day, hour, minute, second, zone=local_zone):
    """The moments at which the zone's clocks show that local date and time, earliest first:
    none in an hour the clocks skip, two in an hour they show twice."""
    wall = _wall(year, month, day, hour, minute, second)
    if wall is None:
        return []
    # A moment that shows it lies within a day of it read as UTC, at one of the offsets the
    # zone has around it; each is tried and kept if it holds.
    found = set()
    for probe in range(wall - 86400, wall + 86401, 3 * 3600):
        moment = wall - zone(probe)
        if moment + zone(moment) == wall:
            found.add(moment)
    return sorted(found)


def offset_text(offset):
    return "%s%02d:%02d" % ("-" if offset < 0 else "+", abs(offset) // 3600, abs(offset) // 60 % 60)


def local_iso(moment, zone=local_zone, seconds=True):
    """A moment as the zone's local date and time with its offset (RFC 3339),
    2026-12-08T06:00:00+01:00; without seconds, as the program's --finish-by takes it."""
    offset = zone(moment)
    shown = datetime.datetime.fromtimestamp(moment + offset, datetime.timezone.utc).strftime(
        "%Y-%m-%dT%H:%M:%S" if seconds else "%Y-%m-%dT%H:%M")
    return shown + offset_text(offset)


def nearest_clock_time(hour, minute, now, zone=local_zone):
    """The moment of the local clock time nearest to `now` (seconds since 1970) in real time,
    before or after it, of every occurrence within a day either way (both of an hour the
    clocks repeat); of two alike near, the later."""
    today = datetime.datetime.fromtimestamp(now + zone(now), datetime.timezone.utc).date()
    found = None
    for days in (-1, 0, 1):
        date = today + datetime.timedelta(days=days)
        for moment in local_moments(date.year, date.month, date.day, hour, minute, 0, zone):
            if found is None or (abs(moment - now), -moment) < (abs(found - now), -found):
                found = moment
    return found


def later_day(moment, now, zone=local_zone):
    """The same local time as `moment` on the first later day that has it, as --finish-by takes
    it with its offset (the earlier of two), when that lies after `now`; else None."""
    local = datetime.datetime.fromtimestamp(moment + zone(moment), datetime.timezone.utc)
    for days in (1, 2, 3):
        day = local + datetime.timedelta(days=days)
        moments = local_moments(day.year, day.month, day.day, day.hour, day.minute, day.second,
                                zone)
        if moments:
            return local_iso(moments[0], zone, local.second != 0) if moments[0] > now else None
    return None


def finish_by_moment(text, now, zone=local_zone):
    """(seconds since 1970, None) for a window's end: "HH:MM" (local time, its nearest
    occurrence to `now`) or an ISO 8601 date and time "YYYY-MM-DDTHH:MM[:SS]" (local time)
    with an optional "Z" or "+HH:MM" offset; else (None, why it is refused). A local date and
    time that the clocks show twice or never is refused with both readings named."""
    why = "'%s': give HH:MM (local time) or an ISO 8601 date and time such as " \
          "2026-12-24T06:00 (local) or 2026-12-24T05:00Z" % text
    clock = _CLOCK.fullmatch(text)
    if clock:
        hour, minute = int(clock.group(1)), int(clock.group(2))
        moment = nearest_clock_time(hour, minute, now, zone) if hour < 24 and minute < 60 \
            else None
        return (None, why) if moment is None else (moment, None)
    iso = _ISO.fullmatch(text)
    if not iso:
        return None, why
    year, month, day, hour, minute = (int(iso.group(n)) for n in range(1, 6))
    second, offset = int(iso.group(6) or 0), iso.group(7)
    if not (1 <= month <= 12 and 1 <= day <= 31 and hour < 24 and minute < 60 and second < 60):
        return None, why
    wall = _wall(year, month, day, hour, minute, second)
    if wall is None:
        return None, why
    if not offset:
        moments = local_moments(year, month, day, hour, minute, second, zone)
        if len(moments) == 1:
            return moments[0], None
        before, after = zone(wall - 86400), zone(wall + 86400)
        if before == after:
            return None, why
        written = text[:19 if iso.group(6) else 16].replace(" ", "T")
        return None, "'%s': the clocks show that local time %s; give its offset: %s%s or %s%s" % (
            text, "twice, before and after they go back" if before > after else
            "never, as they go forward past it", written, offset_text(before), written,
            offset_text(after))
    hours, minutes = (0, 0) if offset == "Z" else (int(offset[1:3]), int(offset[4:6]))
    if hours > 23 or minutes > 59:
        return None, why
    east = -1 if offset[0] == "-" else 1
    return wall - east * (hours * 3600 + minutes * 60), None


def resolved_finish_by(text, now):
    """A window's end that means the same moment wherever and whenever it is read: a clock
    time "HH:MM" becomes the local date, time and offset of its nearest occurrence to `now`;
    anything else is returned as it is."""
    if isinstance(text, str) and _CLOCK.fullmatch(text):
        moment, why = finish_by_moment(text, now)
        if why is None:
            return local_iso(moment)
    return text
