# -*- coding: utf-8 -*-
# The fleet page: one HTML file that needs nothing else (its style and script are inside it),
# complete without script. Every text that came from a site or a unit goes through text(), so
# it is shown as the characters it is and never read as markup.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import functools
import html
from datetime import datetime

from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_fleet import (
    clock, moment, wave_starts)

EPOCH = datetime(1970, 1, 1)
# A longer text is cut, with the count of what was left out (a unit's message is one line).
LONGEST_TEXT = 300
# Classes of the results; the result is always written as a word too, never by colour alone.
RESULT_CLASS = {"complete": "ok", "current": "ok", "answered": "ok", "failed": "bad",
                "no answer": "bad", "not started": "off", "running": "run", "waiting": "run"}

STYLE = """
body{font:14px/1.35 system-ui,sans-serif;margin:1em 2em;color:#222}
h1{font-size:1.5em}h2{margin-top:1.6em;border-bottom:1px solid #ccc}h3{margin:1em 0 .3em}
table{border-collapse:collapse;margin:.4em 0}th,td{border:1px solid #ddd;padding:2px 6px;
text-align:left;vertical-align:top}th{background:#f3f3f3}td.n,#units td:last-child{text-align:right}
#units th{cursor:pointer}.ok{background:#d9f2d9}.bad{background:#f8d4d4}.off{background:#eee}
.run{background:#fdf0c4}.yes{color:#060}.no{color:#a00;font-weight:bold}
.cards{display:flex;flex-wrap:wrap;gap:1em}.card{border:1px solid #ccc;padding:.4em .8em}
.card b{font-size:1.6em;display:block}#filters{margin:.5em 0}#filters label{margin-right:1em}
.tl{position:relative;margin:.3em 0 1em}.tl p{display:flex;height:1.35em;margin:0;
align-items:center}.tl b{width:8em;flex:none;font-size:.85em;font-weight:normal}
.tl p span{position:relative;flex:1;height:1.1em;background:#fafafa}
.tl i{position:absolute;top:0;height:100%;min-width:2px;font:.75em system-ui;
white-space:nowrap;border:1px solid #888;box-sizing:border-box;padding-left:2px}
.tl i.bad{border-color:#a00}.marks{position:absolute;top:0;bottom:0;left:8em;right:0;
pointer-events:none}.mark{position:absolute;top:0;bottom:0;border-left:2px dashed #36c}
.mark.end{border-left:2px solid #c00}.mark span{font-size:.75em;background:#fff;padding:0 2px}
.axis{display:flex;justify-content:space-between;margin-left:8em;font-size:.75em;color:#555}
.cv{content-visibility:auto}.hist td{font-size:.85em;min-width:9em;white-space:pre-line}.note{color:#555}
"""

# Sorts the unit table by a column (a click on its heading; again for the other way) and
# filters it by site, result and version. It only moves and hides rows of the table that the
# page already holds, and reads and writes texts as text.
SCRIPT = """
(function(){
var t=document.getElementById('units'),b=t.tBodies[0],rows=[].slice.call(b.rows);
var f=document.getElementById('filters'),shown=document.getElementById('shown');
var cols={site:0,result:5,version:3},sel={};
f.hidden=false;
Object.keys(cols).forEach(function(k){
 var s=document.getElementById('f-'+k),seen={};
 rows.forEach(function(r){seen[r.cells[cols[k]].textContent]=1});
 Object.keys(seen).sort().forEach(function(v){var o=document.createElement('option');
  o.value=v;o.text=v===''?'(none)':v;s.add(o)});
 s.onchange=filter;sel[k]=s});
function filter(){var n=0;rows.forEach(function(r){var ok=Object.keys(cols).every(function(k){
  return sel[k].value==='*'||r.cells[cols[k]].textContent===sel[k].value});
  r.hidden=!ok;n+=ok});shown.textContent=n+' of '+rows.length+' units shown'}
var by=-1,up=1;
[].forEach.call(t.tHead.rows[0].cells,function(th,i){th.title='sort';th.onclick=function(){
 up=by===i?-up:1;by=i;
 rows.sort(function(x,y){return up*x.cells[i].textContent.localeCompare(
  y.cells[i].textContent,undefined,{numeric:true})});
 rows.forEach(function(r){b.appendChild(r)})}});
shown.textContent=rows.length+' units';
})();
"""


def text(value):
    """A text from outside as HTML text (see shown())."""
    if value is None:
        return ""
    return shown(value if isinstance(value, str) else str(value))


# The page repeats most texts (versions, messages, results) many times.
@functools.lru_cache(maxsize=1 << 16)
def shown(value):
    """A text from outside as HTML text: markup characters escaped, characters that are not
    printable (controls, and format characters that could hide or reorder what is shown)
    written as \\xHH or \\uHHHH, and a long text cut."""
    cut = ""
    if len(value) > LONGEST_TEXT:
        cut = "\u2026 (%d more characters)" % (len(value) - LONGEST_TEXT)
        value = value[:LONGEST_TEXT]
    if value.isprintable():
        return html.escape(value) + cut
    out = []
    for c in value:
        if c.isprintable():
            out.append(html.escape(c))
        else:
            out.append("\\x%02X" % ord(c) if ord(c) < 0x100 else "\\u%04X" % ord(c))
    return "".join(out) + cut


def when(clock_text):
    """A report's local time as shown: date and time with a blank between."""
    return text(clock_text.replace("T", " ")) if clock_text else ""


def seconds(clock_text):
    return (moment(clock_text) - EPOCH).total_seconds()


def result_cell(result):
    return "<td class=%s>%s" % (RESULT_CLASS.get(result, "off"), text(result))


def yes_no(value):
    if value is None:
        return "<td>"
    return "<td class=yes>yes" if value else "<td class=no>no"


def summary(fleet):
    c = fleet["counts"]
    cards = [("sites", c["sites"]), ("units", c["units"]),
             ("run the target version", c["on_target"] if fleet_targets(fleet) else "no target"),
             ("did not answer when last asked", c["no_answer"])]
    out = ['<h2 id="summary">Summary</h2><div class="cards">']
    out += ['<div class="card"><b>%s</b>%s</div>' % (text(v), k) for k, v in cards]
    out.append('</div><h3>Sites</h3><table id="sites"><thead><tr><th>Site<th>Units'
               '<th>Target version<th>Run it<th>Did not answer<th>Last checked<th>Last updated'
               '<th>Last update\'s results<th>Notes</thead><tbody>')
    for s in fleet["sites"]:
        units = s["units"].values()
        upd = s["last_update"]
        results = tally_text(e["result"] for _a, e in upd["units"]) if upd else ""
        out.append('<tr><td>%s<td class="n">%d<td>%s<td class="n">%s<td class="n">%d<td>%s<td>%s'
                   '<td>%s<td>%s' % (
                       text(s["name"]), len(s["units"]), text(s["target"]),
                       sum(1 for u in units if u["on_target"]) if s["target"] is not None else "",
                       sum(1 for u in units if u["no_answer"]),
                       when(s["last_check"]["start"]) if s["last_check"] else "never",
                       when(upd["start"]) if upd else "never", results, site_notes(s)))
    out.append("</tbody></table>")
    for title, key in (("Models", "models"), ("Versions", "versions")):
        out.append('<h3>%s</h3><table id="%s"><thead><tr><th>%s<th>Units</thead><tbody>' % (
            title, key, title[:-1]))
        out += ['<tr><td>%s<td class="n">%d' % (text(v) if v is not None else "(not known)", n)
                for v, n in c[key]]
        out.append("</tbody></table>")
    return "".join(out)


def fleet_targets(fleet):
    return any(s["target"] is not None for s in fleet["sites"])


def tally_text(values):
    counts = {}
    for v in values:
        counts[v] = counts.get(v, 0) + 1
    return ", ".join("%d %s" % (n, text(v)) for v, n in sorted(counts.items()))


def site_notes(site):
    notes = [] if site["runs"] or site["problems"] else ["no report yet"]
    if site["last_update"] and site["last_update"]["end"] is None:
        notes.append("its last update did not end (cut off)")
    notes += site["problems"]
    return "; ".join(text(n) for n in notes)


def unit_table(fleet):
    out = ['<h2 id="all-units">Every unit</h2><form id="filters" hidden>'
           '<label>Site <select id="f-site"><option value="*">all</select></label>'
           '<label>Result <select id="f-result"><option value="*">all</select></label>'
           '<label>Version <select id="f-version"><option value="*">all</select></label>'
           '<span id="shown"></span></form>'
           '<section class="cv" style="contain-intrinsic-size:auto %dpx">'
           '<table id="units"><thead><tr><th>Site<th>Address<th>Model<th>Version<th>Target'
           '<th>Last result<th>Message<th>Last updated<th>From version<th>Attempts</thead><tbody>'
           % row_heights(fleet["counts"]["units"] + 1)]
    for s in fleet["sites"]:
        name = text(s["name"])
        for u in s["units"].values():
            last, up = u["last"], u["updated"]
            out.append("<tr><td>%s<td>%s<td>%s<td>%s%s%s<td>%s<td>%s<td>%s<td>%s</tr>\n" % (
                name, text(u["address"]), text(u["model"]), text(u["version"]),
                yes_no(u["on_target"]), result_cell(last["result"]), text(last["message"]),
                when(clock(up["end"]) or clock(up["start"])) if up else "",
                text(up["before"]) if up else "", "" if u["attempts"] is None else u["attempts"]))
    out.append("</tbody></table></section>")
    return "".join(out)


def row_heights(rows):
    """What a block of this many rows measures, about (a block out of sight is laid out only
    once it is scrolled to, with this as its height until then)."""
    return 22 * rows + 40


def timeline(site):
    """The site's last update: a row a unit, its bar placed by its start and end on the run's
    time axis, which reaches to the window's end."""
    run = site["last_update"]
    if not run:
        return '<h3>%s</h3><p class="note">no update yet</p>' % text(site["name"])
    units = [(a, e, clock(e["start"]), clock(e["end"])) for a, e in run["units"]]
    attempts = {a: [(clock(r.get("start")), clock(r.get("end")), r.get("message"))
                    for r in e["runs"] or ()] for a, e in run["units"]}
    times = [t for _a, _e, start, end in units for t in (start, end) if t] + [
        t for runs in attempts.values() for r in runs for t in r[:2] if t] + [
        t for t in (run["start"], run["end"], run["finish_by"]) if t]
    first, last = min(times), max(times)
    zero = seconds(first)
    span = max(seconds(last) - zero, 1.0)

    def pos(clock_text):
        return "%.2f%%" % (100.0 * (seconds(clock_text) - zero) / span)

    out = ['<section class="cv" style="contain-intrinsic-size:auto %dpx"><h3>%s: update of %s</h3>'
           '<div class="axis"><span>%s</span><span>%s</span></div><div class="tl">' % (
               row_heights(len(units) + 1), text(site["name"]), when(run["start"]), when(first),
               when(last))]
    def segment(result, start, end, word, title=""):
        width = 100.0 * max(seconds(end or last) - seconds(start), 0) / span
        return '<i class=%s style=left:%s;width:%.2f%% title="%s%s to %s">%s</i>' % (
            RESULT_CLASS.get(result, "off"), pos(start), width, title, start[11:],
            end[11:] if end else "no end", text(word))

    for address, e, start, end in units:
        word = e["result"] + ("" if (e["attempts"] or 0) < 2 else ", %d attempts" % e["attempts"])
        runs = [r for r in attempts[address] if r[0]]
        if len(runs) > 1:
            # An attempt before the last was one the unit did not answer.
            bar = "".join(segment(
                e["result"] if n == len(runs) else "no answer", r_start, r_end,
                word if n == len(runs) else "no answer", "attempt %d: %s; " % (n, text(message)))
                for n, (r_start, r_end, message) in enumerate(runs, 1))
        elif start:
            bar = segment(e["result"], start, end, word)
        else:
            bar = "<i class=off>%s</i>" % text(word)
        out.append("<p><b>%s</b><span>%s</span>" % (text(address), bar))
    out.append('<div class="marks">')
    waves = {}
    for _a, e, start, _end in units:
        if start and e["wave"]:
            waves[e["wave"]] = min(waves.get(e["wave"], start), start)
    if waves:
        marks = [(n, start, "") for n, start in sorted(waves.items()) if n > 1]
    else:
        marks = [(n, start, ": every unit started before had ended") for n, start in enumerate(
            wave_starts((start, end) for _a, _e, start, end in units if start), 2)]
    for n, start, why in marks:
        out.append('<div class="mark" style="left:%s" title="wave %d began %s%s">'
                   '<span>wave %d</span></div>' % (pos(start), n, start[11:], why, n))
    if run["finish_by"]:
        out.append('<div class="mark end" style="left:%s" title="the window ended %s">'
                   '<span>window ends %s</span></div>' % (
                       pos(run["finish_by"]), when(run["finish_by"]), run["finish_by"][11:16]))
    out.append("</div></div></section>")
    return "".join(out)


def history(site):
    """A row a unit, a column a run (newest first): result, version before (and after), message."""
    runs = site["runs"]
    if not runs:
        return ""
    order = list(range(len(runs) - 1, -1, -1))
    out = ['<details><summary>%s: %d unit(s), %d run(s)</summary><table class="hist"><thead>'
           '<tr><th>Unit' % (text(site["name"]), len(site["units"]), len(runs))]
    out += ["<th>%s<br>%s" % (when(runs[i]["start"]), runs[i]["kind"]) for i in order]
    out.append("</thead><tbody>")
    for u in site["units"].values():
        by_run = {e["run"]: e for e in u["history"]}
        cells = []
        for i in order:
            e = by_run.get(i)
            if e is None:
                cells.append("<td>")
                continue
            cells.append("%s\n%s%s\n%s" % (
                result_cell(e["result"]), text(e["before"]),
                "\u2192" + text(e["after"]) if e["after"] else "", text(e["message"])))
        out.append("<tr><td>%s%s</tr>\n" % (text(u["address"]), "".join(cells)))
    out.append("</tbody></table></details>")
    return "".join(out)


def render(fleet):
    """The whole page."""
    target = fleet["target"]
    head = ('<!DOCTYPE html><html lang="en"><head><meta charset="utf-8">'
            '<meta name="viewport" content="width=device-width">'
            '<meta http-equiv="Content-Security-Policy" content="default-src \'none\'; '
            'style-src \'unsafe-inline\'; script-src \'unsafe-inline\'; img-src data:">'
            '<title>KQVorlink fleet</title><style>%s</style></head><body>' % STYLE)
    intro = ('<h1>KQVorlink fleet</h1><p>%d site(s), %d unit(s), from the kept runs up to %s. '
             'Target version: %s. Times are each site host\'s local time.</p>'
             '<p><a href="#summary">Summary</a> \u00b7 <a href="#all-units">Every unit</a> \u00b7 '
             '<a href="#timelines">Last updates</a> \u00b7 <a href="#histories">Histories</a></p>'
             % (fleet["counts"]["sites"], fleet["counts"]["units"], when(fleet["as_of"]) or "now",
                text(target) if target is not None else "each site's last update's"))
    parts = [head, intro, summary(fleet), unit_table(fleet),
             '<h2 id="timelines">Each site\'s last update</h2>']
    parts += [timeline(s) for s in fleet["sites"]]
    parts.append('<h2 id="histories">Each unit\'s history</h2><p class="note">Newest run first; '
                 'a cell gives the result, the version before (and after) and the message.</p>')
    parts += [history(s) for s in fleet["sites"]]
    parts.append("<script>%s</script></body></html>\n" % SCRIPT)
    return "".join(parts)
