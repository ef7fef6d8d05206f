# -*- coding: utf-8 -*-
# What each site's last update sent, as its report's `set` and `operator` say, and how the
# sites compare: which sites sent which set, and which sent another set than the fleet's newest
# for the model, an unsigned set or a downgrade. A report's fields are read as hostile input:
# a value of the wrong form counts as not given.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import re

SHA256 = re.compile(r"[0-9a-f]{64}")
SHORT = 12  # hex digits of a digest shown where space is short

# Why a site is marked, in the order the page names them.
MARKS = ("other_set", "unsigned", "downgrade")


def _text(value):
    return value if isinstance(value, str) and value else None


def _release(value):
    return value if isinstance(value, int) and not isinstance(value, bool) and value >= 0 else None


def set_sent(report, when):
    """What an update report says its run sent: the set's digest and its evidence, and who
    ran it; `when` is the run's start in seconds since 1970 (None when not known). None for a
    report that names no digest (one written before sets had one)."""
    given = report.get("set") if isinstance(report.get("set"), dict) else {}
    digest = given.get("sha256")
    if not isinstance(digest, str) or not SHA256.fullmatch(digest):
        return None
    operator = report.get("operator") if isinstance(report.get("operator"), dict) else {}
    user, host = _text(operator.get("user")), _text(operator.get("host"))
    ran_by = "@".join(t for t in (user, host) if t) or None
    return dict(digest=digest, short=digest[:SHORT], model=_text(given.get("model")),
                signed=given.get("signed") is True, release=_release(given.get("release")),
                signer=_text(given.get("signer")),
                fingerprint=_text(given.get("key_fingerprint")),
                # a release below the highest the site host had sent (it was allowed)
                downgrade=given.get("downgrade") is True,
                operator=_text(operator.get("text")), ran_by=ran_by,
                when=when)


def newest_sets(sent):
    """The fleet's newest set of each model: of the signed sets the highest release (of two
    with the same release, the one sent last), else the set sent last. `sent` are set_sent()
    values."""
    newest = {}
    for s in sent:
        key = (s["signed"], s["release"] if s["signed"] and s["release"] is not None else -1,
               s["when"] if s["when"] is not None else float("-inf"))
        have = newest.get(s["model"])
        if have is None or key > have[0]:
            newest[s["model"]] = (key, s)
    return {model: s for model, (_key, s) in newest.items()}


def compare_sites(sites):
    """Marks every site's last sent set and counts the fleet's sets. `sites` are
    (name, set_sent() or None); returns ({name: marks}, [(set, names of the sites that sent
    it)] most sites first, {mark: count of sites})."""
    sent = [s for _name, s in sites if s]
    newest = newest_sets(sent)
    marks, by_digest = {}, {}
    for name, s in sites:
        if s is None:
            marks[name] = []
            continue
        marks[name] = [m for m, on in zip(MARKS, (
            s["digest"] != newest[s["model"]]["digest"], not s["signed"], s["downgrade"])) if on]
        by_digest.setdefault(s["digest"], (s, []))[1].append(name)
    sets = sorted(by_digest.values(), key=lambda e: (-len(e[1]), e[0]["digest"]))
    counts = {m: sum(1 for name in marks if m in marks[name]) for m in MARKS}
    return marks, sets, counts
