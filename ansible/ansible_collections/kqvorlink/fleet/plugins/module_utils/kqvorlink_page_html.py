# -*- coding: utf-8 -*-
# The fleet page: one HTML file that needs nothing else (its style, script and data are inside
# it), its tables complete without script. Every text that came from a site or a unit goes
# through text(), so it is shown as the characters it is and never read as markup. Tables are
# built from named columns: a column is one line of SITE_COLUMNS or UNIT_COLUMNS.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_fleet import UNKNOWN
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_page_script import (
    SCRIPT, STYLE)
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_page_text import (
    RESULT_CLASS, text, visible)
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_page_timeline import (
    draw)
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_sets import MARKS
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_page_times import (
    shown_time, sort_key)


class Cell:
    """A table cell: its HTML, class and the key its column sorts by (times by moment)."""

    __slots__ = ("html", "kind", "sort")

    def __init__(self, html="", kind=None, sort=None):
        self.html, self.kind, self.sort = html, kind, sort

    def __str__(self):
        attributes = (' class="%s"' % self.kind if self.kind else "") + (
            ' data-sort="%s"' % self.sort if self.sort is not None else "")
        return "<td%s>%s" % (attributes, self.html)


def number(value):
    return Cell("" if value is None else "%d" % value, "n")


def moment_cell(moment):
    return Cell(text(shown_time(moment)), "t", sort_key(moment))


def result_cell(result):
    return Cell(text(result), RESULT_CLASS.get(result, "off") + " s") if result else Cell()


def yes_no(value):
    return Cell() if value is None else Cell("yes", "yes") if value else Cell("no", "no")


# A text up to this long stays on one line in the unit table: rows of one line each scroll by
# fewer screens, and only longer texts wrap.
ONE_LINE = 24


def short_text(value):
    """A cell of a text from outside, kept on one line when it is short."""
    return Cell(text(value), "s" if value is not None and len(value) <= ONE_LINE else None)


def version_cell(version):
    return Cell("not known", "off") if version is UNKNOWN else short_text(version)


def share(part, whole):
    return "%d (%.0f%%)" % (part, 100.0 * part / whole) if whole else "%d" % part


def table(table_id, columns, rows, classes=None):
    """A sortable table: `columns` [(key, heading, value(row) -> Cell)], a row per item."""
    out = ['<table id="%s" class="sortable"><thead><tr>' % table_id]
    out += ['<th data-key="%s">%s' % (key, heading) for key, heading, _value in columns]
    out.append("</thead><tbody>")
    for n, row in enumerate(rows):
        out.append("<tr%s>%s</tr>\n" % (
            ' class="%s"' % classes[n] if classes and classes[n] else "",
            "".join(str(value(row)) for _key, _heading, value in columns)))
    out.append("</tbody></table>")
    return "".join(out)


# --- the sites

def site_troubles(site, counts):
    """What needs an operator's look at a site, in words (empty when nothing does)."""
    troubles = ["%d failed" % counts["failed"]] if counts["failed"] else []
    if counts["off_target"]:
        troubles.append("%d off target" % counts["off_target"])
    if counts["no_answer"]:
        troubles.append("%d did not answer" % counts["no_answer"])
    if site.reached is False:
        troubles.append("unreachable")
    if site.problems:
        troubles.append("%d report(s) not shown" % len(site.problems))
    return troubles + [MARK_WORDS[m] for m in site.set_marks]


def site_notes(site):
    notes = [] if site.runs or site.problems else ["no report yet"]
    if site.reached is False:
        notes.append("unreachable in this playbook run: its data is from before")
    if site.last_update and not site.last_update.ended:
        notes.append("its last update did not end (cut off)")
    notes += site.problems + site.remarks
    return Cell("; ".join(text(n) for n in notes))


def last_results(site):
    if not site.last_update:
        return Cell()
    counts = {}
    for _address, entry in site.last_update.units:
        counts[entry.result] = counts.get(entry.result, 0) + 1
    return Cell(", ".join("%d %s" % (n, text(r)) for r, n in sorted(counts.items())))


# What a site's last update sent, when it stands out from the fleet's.
MARK_WORDS = {"other_set": "another set than the fleet's newest", "unsigned": "unsigned set",
              "downgrade": "downgrade"}
SENT_WORDS = {"other_set": "another set than the fleet's newest", "unsigned": "an unsigned set",
              "downgrade": "a downgrade"}


def set_words(sent):
    """A set in short: its digest's first hex digits, release and signer, or that it is
    unsigned."""
    if not sent["signed"]:
        return "%s unsigned" % sent["short"]
    return "%s release %s by %s" % (sent["short"], "?" if sent["release"] is None else
                                    sent["release"], sent["signer"] or "?")


def set_cell(site):
    sent = site.last_update.sent if site.last_update else None
    if sent is None:
        return Cell()
    words = text(set_words(sent)) + (" (downgrade)" if sent["downgrade"] else "")
    return Cell(words, "bad" if site.set_marks else None, sort=sent["digest"])


def sent_by_cell(site):
    sent = site.last_update.sent if site.last_update else None
    if sent is None:
        return Cell()
    who = " ".join(t for t in (text(sent["operator"]), "(%s)" % text(sent["ran_by"])
                               if sent["ran_by"] else "") if t)
    return Cell("%s at %s" % (who or "?", text(shown_time(site.last_update.start))))


def run_time(run):
    return moment_cell(run.start) if run else Cell("never")


SITE_COLUMNS = [
    ("site", "Site", lambda s: Cell(text(s.name))),
    ("state", "State", lambda s: Cell("; ".join(s.troubles), "bad") if s.troubles else
     Cell("ok", "ok")),
    ("units", "Units", lambda s: number(s.count["units"])),
    ("target", "Target version", lambda s: short_text(s.target)),
    ("on-target", "Run it", lambda s: number(s.count["on_target"] if s.target is not None
                                             else None)),
    ("failed", "Failed", lambda s: number(s.count["failed"])),
    ("no-answer", "Did not answer", lambda s: number(s.count["no_answer"])),
    ("checked", "Last checked", lambda s: run_time(s.last_check)),
    ("updated", "Last updated", lambda s: run_time(s.last_update)),
    ("newest", "Newest data", lambda s: moment_cell(s.newest_data())),
    ("reached", "Reached by this run", lambda s: Cell() if s.reached is None else
     Cell("yes", "yes") if s.reached else Cell("unreachable", "bad")),
    ("results", "Last update's results", last_results),
    ("set", "Its set", set_cell),
    ("sent-by", "Started by", sent_by_cell),
    ("notes", "Notes", site_notes),
]


# A row per set that a site's last update sent: (set_sent(), the sites that sent it).
SET_COLUMNS = [
    ("set", "Set", lambda e: Cell(text(e[0]["short"]), sort=e[0]["digest"])),
    ("model", "Model", lambda e: Cell(text(e[0]["model"]))),
    ("release", "Release", lambda e: number(e[0]["release"])),
    ("signer", "Signer", lambda e: Cell(text(e[0]["signer"])) if e[0]["signed"] else
     Cell("unsigned", "bad")),
    ("sites", "Sites", lambda e: number(len(e[1]))),
    ("names", "Sent by", lambda e: Cell(", ".join(text(s.name) for s in e[1]))),
]


def cards(fleet):
    c = fleet["counts"]
    targets = any(s.target is not None for s in fleet["sites"])
    shown = [("sites", "%d" % c["sites"], None), ("units", "%d" % c["units"], None),
             ("run the target version", share(c["on_target"], c["units"]) if targets
              else "no target", None),
             ("off target", share(c["off_target"], c["units"]), "bad" if c["off_target"] else None),
             ("failed in their last update", share(c["failed"], c["units"]),
              "bad" if c["failed"] else None),
             ("did not answer when last asked", share(c["no_answer"], c["units"]),
              "bad" if c["no_answer"] else None)]
    shown += [("sites whose last update sent " + SENT_WORDS[m], "%d" % c["sets"][m],
               "bad" if c["sets"][m] else None) for m in MARKS]
    return '<div class="cards">%s</div>' % "".join(
        '<div class="card%s"><b>%s</b>%s</div>' % (" " + kind if kind else "", value, label)
        for label, value, kind in shown)


def summary(fleet):
    for site in fleet["sites"]:
        site.count = site.counts()
        site.troubles = site_troubles(site, site.count)
    out = ['<h2 id="summary">Summary</h2>', cards(fleet), "<h3>Sites</h3>",
           table("sites", SITE_COLUMNS, fleet["sites"],
                 ["problem" if s.troubles else None for s in fleet["sites"]])]
    out.append("<h3>Sets sent</h3>")
    out.append(table("sets", SET_COLUMNS, fleet["sets"]))
    for title, key in (("Models", "models"), ("Versions", "versions")):
        out.append("<h3>%s</h3>" % title)
        out.append(table(key, [(key, title[:-1], lambda kv: Cell(
            text(kv[0]) if kv[0] is not None else "(not known)")),
            ("units", "Units", lambda kv: number(kv[1]))], fleet["counts"][key]))
    return "".join(out)


# --- the units

def update_time(site, unit):
    entry = unit.last_update
    if entry is None:
        return Cell()
    run = site.runs[entry.run]
    start, end, _wave, _attempts = entry.times()
    return moment_cell(run.time(end) or run.time(start) or run.start)


def check_time(site, unit):
    return moment_cell(site.runs[unit.last_check.run].start) if unit.last_check else Cell()


def of_update(field, cell=lambda value: Cell(text(value))):
    return lambda su: cell(getattr(su[1].last_update, field)) if su[1].last_update else Cell()


UNIT_COLUMNS = [
    ("site", "Site", lambda su: short_text(su[0].name)),
    ("address", "Address", lambda su: short_text(su[1].address)),
    ("model", "Model", lambda su: short_text(su[1].model)),
    ("version", "Version", lambda su: version_cell(su[1].version)),
    ("target", "Target", lambda su: yes_no(su[1].on_target)),
    ("update", "Last update", lambda su: result_cell(su[1].last_update.result)
     if su[1].last_update else Cell()),
    ("updated", "Updated at", lambda su: update_time(*su)),
    ("update-message", "Update message", of_update("message")),
    ("before", "From version", of_update("before", short_text)),
    ("attempts", "Attempts", lambda su: number(su[1].last_update.attempts)
     if su[1].last_update else Cell()),
    ("check", "Last check", lambda su: result_cell(su[1].last_check.result)
     if su[1].last_check else Cell()),
    ("check-version", "Check's version", lambda su: short_text(su[1].last_check.before)
     if su[1].last_check else Cell()),
    ("checked", "Checked at", lambda su: check_time(*su)),
]


def row_heights(rows):
    """What a block of this many rows measures, about (a block out of sight is laid out only
    once it is scrolled to, with this as its height until then)."""
    return 22 * rows + 40


def unit_table(fleet):
    units = []
    for site in fleet["sites"]:
        units += [(site, u) for u in site.units.values()]
    return ('<h2 id="all-units">Every unit</h2><form id="filters" hidden>'
            '<label>Site <select data-key="site"><option value="*">all</select></label>'
            '<label>Last update <select data-key="update"><option value="*">all</select></label>'
            '<label>Version <select data-key="version"><option value="*">all</select></label>'
            '<span id="shown"></span></form>'
            '<section class="cv" style="contain-intrinsic-size:auto %dpx">%s</section>' % (
                row_heights(len(units) + 1), table("units", UNIT_COLUMNS, units)))


# --- each site's last update and the histories

def timeline(site):
    run = site.last_update
    if not run:
        return '<h3>%s</h3><p class="note">no update yet</p>' % text(site.name)
    return '<section class="cv" style="contain-intrinsic-size:auto %dpx"><h3>%s: update of %s' \
           '</h3>%s</section>' % (row_heights(len(run.units) + 3), text(site.name),
                                  text(shown_time(run.start)) or "unknown time",
                                  draw(site.name, run, run.units))


class HistoryData:
    """Every site's history as the page's script builds it when opened: each text once
    (`texts`), each distinct (result, before, after, message) once (`cells`), and per site its
    runs and a row of cell numbers per run (0: the unit was not in that run)."""

    def __init__(self):
        self.texts, self.text_ids = [""], {None: 0, "": 0}
        self.cells, self.cell_ids = [None], {}
        self.sites = []

    def text_id(self, value):
        found = self.text_ids.get(value)
        if found is None:
            found = self.text_ids[value] = len(self.texts)
            self.texts.append(visible(value))
        return found

    def add(self, site):
        order = {address: n for n, address in enumerate(site.units)}
        grid = []
        for run in site.runs:
            row = [0] * len(order)
            for address, e in run.units:
                key = (e.result, e.before, e.after, e.message)
                found = self.cell_ids.get(key)
                if found is None:
                    found = self.cell_ids[key] = len(self.cells)
                    self.cells.append([self.text_id(v) for v in key])
                row[order[address]] = found
            grid.append(row)
        self.sites.append(dict(
            runs=[[shown_time(r.start) or "unknown time", r.kind, r.file] for r in site.runs],
            units=[self.text_id(a) for a in site.units], grid=grid))
        return len(self.sites) - 1

    def json(self):
        data = dict(texts=self.texts, cells=self.cells, sites=self.sites, classes=RESULT_CLASS)
        # "<" written as its escape: the data cannot end its script element, whatever it holds.
        return json.dumps(data, ensure_ascii=False, separators=(",", ":")).replace(
            "<", "\\u003c")


def histories(fleet, data):
    out = ['<h2 id="histories">Each unit\'s history</h2><p class="note">Newest run first; a '
           'cell gives the result, the version before (and after) and the message.</p>']
    for site in fleet["sites"]:
        if site.runs:
            out.append('<details data-site="%d"><summary>%s: %d unit(s), %d run(s)</summary>'
                       '<div class="hist-table"></div></details>' % (
                           data.add(site), text(site.name), len(site.units), len(site.runs)))
    return "".join(out)


def render(fleet, now):
    """The whole page; `now` (an aware datetime) is when it is written."""
    target = fleet["target"]
    head = ('<!DOCTYPE html><html lang="en"><head><meta charset="utf-8">'
            '<meta name="viewport" content="width=device-width">'
            '<meta http-equiv="Content-Security-Policy" content="default-src \'none\'; '
            'style-src \'unsafe-inline\'; script-src \'unsafe-inline\'; img-src data:">'
            '<title>KQVorlink fleet</title><style>%s</style></head><body>' % STYLE)
    intro = ('<h1>KQVorlink fleet</h1><p id="written">Written at %s from the kept runs: '
             '%d site(s), %d unit(s). Target version: %s. Times are each site host\'s, with '
             'their offset (a report without offsets is read in the controller\'s zone).</p>'
             '<p><a href="#summary">Summary</a> \u00b7 <a href="#all-units">Every unit</a> \u00b7 '
             '<a href="#timelines">Last updates</a> \u00b7 <a href="#histories">Histories</a></p>'
             % (shown_time(now), fleet["counts"]["sites"], fleet["counts"]["units"],
                text(target) if target is not None else "each site's last update's"))
    data = HistoryData()
    parts = [head, intro, summary(fleet), unit_table(fleet),
             '<h2 id="timelines">Each site\'s last update</h2>']
    parts += [timeline(s) for s in fleet["sites"]]
    parts.append(histories(fleet, data))
    parts.append('<script type="application/json" id="page-data">%s</script>'
                 '<script>%s</script></body></html>\n' % (data.json(), SCRIPT))
    return "".join(parts)
