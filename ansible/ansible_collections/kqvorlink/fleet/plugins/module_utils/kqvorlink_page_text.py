# -*- coding: utf-8 -*-
# Texts from outside (sites, units, reports) as the fleet page shows them: as the characters
# they are, never as markup, with characters that are not printable written as escapes.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import functools
import html

# A longer text is cut, with the count of what was left out (a unit's message is one line).
LONGEST_TEXT = 300
# Classes of the results; the result is always written as a word too, never by colour alone.
RESULT_CLASS = {"complete": "ok", "current": "ok", "answered": "ok", "failed": "bad",
                "no answer": "bad", "not started": "off", "running": "run", "waiting": "run"}


# The page repeats most texts (versions, messages, results) many times.
@functools.lru_cache(maxsize=1 << 16)
def visible(value):
    """A text as it is shown: characters that are not printable (controls, and format
    characters that could hide or reorder what is shown) written as \\xHH or \\uHHHH, and a
    long text cut."""
    cut = ""
    if len(value) > LONGEST_TEXT:
        cut = "\u2026 (%d more characters)" % (len(value) - LONGEST_TEXT)
        value = value[:LONGEST_TEXT]
    if value.isprintable():
        return value + cut
    return "".join(c if c.isprintable() else "\\x%02X" % ord(c) if ord(c) < 0x100 else
                   "\\u%04X" % ord(c) for c in value) + cut


@functools.lru_cache(maxsize=1 << 16)
def text(value):
    """A text from outside as HTML text (None as nothing)."""
    if value is None:
        return ""
    return html.escape(visible(value))
