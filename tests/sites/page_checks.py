"""Checks of the fleet page that the playbooks wrote, as Chromium shows it, against the runs kept
on the controller: each unit's row and last result, the summary's figures, the filter by
result. The expectations are read from the kept reports here, not from the page's code."""

import glob
import json
import os

from page_browser import PageBrowser

PAGE = "fleet.html"


def kept_runs(reports, site):
    """The site's kept reports, oldest first (their names begin with the start)."""
    runs = []
    for path in sorted(glob.glob(os.path.join(reports, site, "runs", "*.json"))):
        with open(path) as f:
            runs.append(json.load(f))
    return runs


def last_entries(reports, sites, kinds=("check", "update")):
    """{(site, address): (kind, unit)} of each unit's latest kept report of these kinds."""
    last = {}
    for site in sites:
        for run in kept_runs(reports, site):
            for unit in run["units"] if run["report"] in kinds else []:
                last[(site, unit["address"])] = (run["report"], unit)
    return last


def said_result(kind, unit):
    if kind == "check":
        return "answered" if unit["answered"] else "no answer"
    return unit["result"]


def column(table, heading):
    """The cells of a shown table's column (its heading left out), by the heading's text."""
    at = table[0].index(heading)
    return [row[at] for row in table[1:]]


class PageChecks:
    def __init__(self, folder, reports, sites):
        self.folder, self.reports, self.sites = folder, reports, sites
        self.browser = None

    def close(self):
        if self.browser:
            self.browser.__exit__(None, None, None)

    def open(self):
        if self.browser is None:
            self.browser = PageBrowser(self.folder).__enter__()
        seconds = self.browser.open(os.path.join(self.reports, PAGE))
        if seconds:
            print("  (the page is shown to its end in %.1f s, the browser's processor time "
                  "%.1f s)" % seconds)
        return seconds is not None, "the page is not shown to its end"

    def runs_kept(self, count):
        """Every site keeps this many runs, the newest of them its last update or check report."""
        have, newest = {}, []
        for site in self.sites:
            runs = kept_runs(self.reports, site)
            have[site] = len(runs)
            with open(os.path.join(self.reports, site, "%s-report.json" % (
                    "update" if runs[-1]["report"] == "update" else "check-update"))) as f:
                newest.append(json.load(f) == runs[-1])
        return all(n == count for n in have.values()) and all(newest), "kept runs %s, %s" % (
            have, newest)

    def rows_match(self):
        """The page's rows (site, address, last update's and last check's result) are the
        kept reports' units, and its summary counts them and the units that did not answer
        when last asked."""
        opened = self.open()
        if not opened[0]:
            return opened
        want = {}
        for kind, heading in (("update", "Last update"), ("check", "Last check")):
            for key, entry in last_entries(self.reports, self.sites, [kind]).items():
                want.setdefault(key, {"Last update": "", "Last check": ""})[heading] = \
                    said_result(*entry)
        table = self.browser.table("units")
        got = {(site, address): {"Last update": update, "Last check": check}
               for site, address, update, check in zip(*(column(table, h) for h in (
                   "Site", "Address", "Last update", "Last check")))}
        # Not answered at the last check, and not reached by an update since.
        checked = last_entries(self.reports, self.sites, ["check"])
        silent = sum(1 for key, (kind, u) in last_entries(self.reports, self.sites).items()
                     if not checked[key][1]["answered"] and (kind == "check" or (
                         u["model"] is None and u["result"] not in ("complete", "current"))))
        cards = self.browser.cards()
        want_cards = {"sites": str(len(self.sites)), "units": str(len(want))}
        return (got == want and len(table) - 1 == len(want) and all(
            cards.get(k) == v for k, v in want_cards.items()) and cards.get(
            "did not answer when last asked", "").split(" ")[0] == str(silent),
            "rows %s, want %s; cards %s, want %s and %d silent" % (
                sorted(got.items())[:4], sorted(want.items())[:4], cards, want_cards, silent))

    def filtered(self, result):
        """Filtered by a last update's result, the table shows exactly the units whose last
        update had it."""
        self.open()
        self.browser.filter("update", result)
        table = self.browser.table("units")
        got = sorted(zip(column(table, "Site"), column(table, "Address")))
        want = sorted(key for key, entry in last_entries(self.reports, self.sites,
                                                         ["update"]).items()
                      if said_result(*entry) == result)
        return got == want and bool(want), "shown %s, want %s" % (got, want)

    def sets_marked(self, marked, digest):
        """The sites' rows: the `marked` sites marked as having sent another set than the
        fleet's newest and an unsigned one, the others unmarked, naming the set of `digest`;
        the summary counts the marked sites."""
        opened = self.open()
        if not opened[0]:
            return opened
        table = self.browser.table("sites")
        got = {site: (all(w in state for w in ("another set", "unsigned")), shown[:12])
               for site, state, shown in zip(*(column(table, h) for h in (
                   "Site", "State", "Its set")))}
        want = {s: (True, got.get(s, (0, None))[1]) if s in marked else (False, digest[:12])
                for s in self.sites}
        cards = self.browser.cards()
        counted = [cards.get("sites whose last update sent " + w) for w in (
            "another set than the fleet's newest", "an unsigned set")]
        return got == want and counted == [str(len(marked))] * 2, "rows %s, want %s; %s" % (
            got, want, counted)

    def unreachable(self, written_before):
        """The page was written again, and marks every site unreachable."""
        opened = self.open()
        table = self.browser.table("sites")
        marks = dict(zip(column(table, "Site"), column(table, "Reached by this run")))
        written = os.stat(os.path.join(self.reports, PAGE)).st_mtime_ns
        return (opened[0] and written != written_before and marks == dict.fromkeys(
            self.sites, "unreachable"), "reached %s, page written again: %s" % (
                marks, written != written_before))

    def screenshot(self, path):
        self.browser.screenshot(path)
        return os.path.getsize(path) > 10000, "%s: %d bytes" % (path, os.path.getsize(path))
