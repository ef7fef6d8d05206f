"""The rehearsal's fleet (three sites of units 127.0.0.10-127.0.0.25; site3 with a unit of the
other model and one that refuses the logo) and what its checks share."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))

FIRST, LAST = "127.0.0.10", "127.0.0.25"
OTHER_MODEL, REFUSING = "127.0.0.25", "127.0.0.17"
SWITCHED_OFF = "127.0.0.26"  # on a site's list, but no unit answers there
FAULTY = "site3"
REFUSE_LOGO = 'command "EXCM k_Lg" reply "550 Selector refused."\n'
SCENARIO = "[%s]\nmodel KQ-B2\n[%s]\n%s" % (OTHER_MODEL, REFUSING, REFUSE_LOGO)
SET_COMPONENTS = ["web0", "logo"]  # three small files; the logo is what one unit refuses
PLAY_SECONDS = 240  # a bound for a play that hangs; loaded machines have taken 100 s
TARGET, SCALE = "KQ-A2.01.02.12", 0.25  # what the units report after the CPU program
LATE, LATE_SITE = "127.0.29.10", "site2"  # switched on only once the run has tried it

SITES = ("site1", "site2", "site3")
KEPT_RUNS = 8  # each site has run 10 or 11 times by the end


def every(value):
    return {s: dict(value) for s in SITES}


def all_of(outcomes):
    outcomes = list(outcomes)
    return all(ok for ok, _ in outcomes), "; ".join(d for ok, d in outcomes if not ok)
