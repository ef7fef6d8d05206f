# -*- coding: utf-8 -*-
# The fleet page's style and script. The script only sorts, filters and builds tables from what
# the page holds (the histories from the data embedded once in it); it writes every text as
# text (textContent), never as markup, and keeps names as data (Map and Set, not plain objects).

from __future__ import absolute_import, division, print_function

__metaclass__ = type

STYLE = """
body{font:14px/1.35 system-ui,sans-serif;margin:1em 2em;color:#222;overflow-wrap:anywhere}
h1{font-size:1.5em}h2{margin-top:1.6em;border-bottom:1px solid #ccc}h3{margin:1em 0 .3em}
table{border-collapse:separate;border-spacing:0;margin:.4em 0;border-top:1px solid #ddd;
border-left:1px solid #ddd}th,td{border:solid #ddd;border-width:0 1px 1px 0;padding:2px 6px;
text-align:left;vertical-align:top}td{min-width:4em}td.n{text-align:right;min-width:2em}
th{background:#f3f3f3;overflow-wrap:normal}
th button{font:inherit;font-weight:bold;border:0;background:none;padding:0;cursor:pointer;
text-align:left}th[aria-sort=ascending] button::after{content:" \\25B2"}
th[aria-sort=descending] button::after{content:" \\25BC"}
.ok{background:#d9f2d9}.bad{background:#f8d4d4}.off{background:#eee}.run{background:#fdf0c4}
.yes{color:#060}.no{color:#a00;font-weight:bold}tr.problem td:first-child{font-weight:bold;
box-shadow:inset 4px 0 #c00}
.cards{display:flex;flex-wrap:wrap;gap:1em}.card{border:1px solid #ccc;padding:.4em .8em}
.card.bad{border-color:#c00}.card b{font-size:1.6em;display:block}
#filters{margin:.5em 0}#filters label{margin-right:1em}#filters select{max-width:16em}
svg.tl{width:100%;max-width:1400px;font:11px system-ui,sans-serif;display:block}
svg.tl rect{stroke:#888;stroke-width:1}svg.tl rect.ok{fill:#d9f2d9}svg.tl rect.bad{fill:#f8d4d4;
stroke:#a00}svg.tl rect.off{fill:#eee}svg.tl rect.run{fill:#fdf0c4}
svg.tl .addr{text-anchor:end}svg.tl .axis{stroke:#555}svg.tl .tick{text-anchor:middle;fill:#555}
svg.tl .mark line{stroke:#36c;stroke-dasharray:4 3;stroke-width:1.5}svg.tl .mark text{fill:#36c}
svg.tl .mark.end line{stroke:#c00;stroke-dasharray:none}svg.tl .mark.end text{fill:#c00}
#units{font-size:12px}#units td{min-width:0;padding:1px 4px}
#units td.t,td.s{white-space:nowrap}.cv{content-visibility:auto}
.hist td{font-size:.85em;min-width:9em;white-space:pre-line}
.hist th{white-space:pre-line}
.note{color:#555}
"""

SCRIPT = """
(function () {
  "use strict";
  const collator = new Intl.Collator(undefined, {numeric: true});
  // The histories' data, read when the first history is opened.
  let data = null;

  // What a cell is sorted by: its data-sort (a time: seconds since 1970), else its text.
  function sortKey(cell) {
    return cell.dataset.sort !== undefined ? cell.dataset.sort : cell.textContent;
  }

  // The index of each column of a table by its heading's data-key.
  function columnsOf(table) {
    const columns = new Map();
    Array.from(table.tHead.rows[0].cells).forEach(function (th, index) {
      columns.set(th.dataset.key, index);
    });
    return columns;
  }

  function sortBy(table, heading, index) {
    const ascending = heading.getAttribute("aria-sort") !== "ascending";
    for (const other of table.tHead.rows[0].cells) {
      other.removeAttribute("aria-sort");
    }
    heading.setAttribute("aria-sort", ascending ? "ascending" : "descending");
    const rows = Array.from(table.tBodies[0].rows);
    const keys = new Map(rows.map(function (row) { return [row, sortKey(row.cells[index])]; }));
    rows.sort(function (a, b) {
      return (ascending ? 1 : -1) * collator.compare(keys.get(a), keys.get(b));
    });
    table.tBodies[0].append.apply(table.tBodies[0], rows);
  }

  // Each heading of a sortable table becomes a button: a click, Enter or Space sorts by it.
  function makeSortable(table) {
    Array.from(table.tHead.rows[0].cells).forEach(function (heading, index) {
      const button = document.createElement("button");
      button.type = "button";
      button.textContent = heading.textContent;
      button.title = "sort by " + heading.textContent;
      heading.textContent = "";
      heading.appendChild(button);
      button.addEventListener("click", function () { sortBy(table, heading, index); });
    });
  }

  function fillChoices(select, values) {
    Array.from(values).sort(collator.compare).forEach(function (value) {
      const option = document.createElement("option");
      option.value = value;
      option.text = value === "" ? "(none)" : value;
      select.add(option);
    });
  }

  // The unit table's filters: a select per column key; a row is shown when it has every
  // value chosen.
  function setUpFilters() {
    const table = document.getElementById("units");
    const form = document.getElementById("filters");
    const shown = document.getElementById("shown");
    const columns = columnsOf(table);
    const selects = Array.from(form.querySelectorAll("select[data-key]"));
    const rows = Array.from(table.tBodies[0].rows);
    selects.forEach(function (select) {
      const index = columns.get(select.dataset.key);
      fillChoices(select, new Set(rows.map(function (row) {
        return row.cells[index].textContent;
      })));
      select.addEventListener("change", filter);
    });
    function filter() {
      let count = 0;
      rows.forEach(function (row) {
        const wanted = selects.every(function (select) {
          return select.value === "*" ||
            row.cells[columns.get(select.dataset.key)].textContent === select.value;
        });
        row.hidden = !wanted;
        count += wanted ? 1 : 0;
      });
      shown.textContent = count + " of " + rows.length + " units shown";
    }
    form.hidden = false;
    shown.textContent = rows.length + " units";
  }

  function cell(row, text, className) {
    const td = row.insertCell();
    td.textContent = text;
    if (className) {
      td.className = className;
    }
    return td;
  }

  // A site's history: a row a unit, a column a run, newest first; the first NEWEST runs, the
  // rest a click away.
  const NEWEST = 10;
  function historyTable(site, count) {
    const table = document.createElement("table");
    table.className = "hist sortable";
    const head = table.createTHead().insertRow();
    const unitHeading = document.createElement("th");
    unitHeading.textContent = "Unit";
    unitHeading.dataset.key = "unit";
    head.appendChild(unitHeading);
    const runs = site.runs.map(function (run, index) { return index; }).reverse().slice(0, count);
    runs.forEach(function (index) {
      const th = document.createElement("th");
      th.textContent = site.runs[index][0] + "\\n" + site.runs[index][1];
      th.title = site.runs[index][2];
      th.dataset.key = "run-" + index;
      head.appendChild(th);
    });
    const body = table.createTBody();
    site.units.forEach(function (address, unit) {
      const row = body.insertRow();
      cell(row, data.texts[address]);
      runs.forEach(function (index) {
        const entry = data.cells[site.grid[index][unit]];
        if (!entry) {
          cell(row, "");
          return;
        }
        const result = data.texts[entry[0]], after = data.texts[entry[2]];
        cell(row, [result, data.texts[entry[1]] + (after ? "\\u2192" + after : ""),
                   data.texts[entry[3]]].join("\\n"), data.classes[result] || "off");
      });
    });
    makeSortable(table);
    return table;
  }

  function showHistory(details) {
    data = data || JSON.parse(document.getElementById("page-data").textContent);
    const site = data.sites[Number(details.dataset.site)];
    const place = details.querySelector(".hist-table");
    function show(count) {
      place.replaceChildren(historyTable(site, count));
      if (count < site.runs.length) {
        const more = document.createElement("button");
        more.type = "button";
        more.textContent = "Show all " + site.runs.length + " runs";
        more.addEventListener("click", function () { show(site.runs.length); });
        place.appendChild(more);
      }
    }
    show(NEWEST);
  }

  document.querySelectorAll("table.sortable").forEach(makeSortable);
  setUpFilters();
  document.querySelectorAll("details[data-site]").forEach(function (details) {
    details.addEventListener("toggle", function () {
      if (details.open && !details.dataset.built) {
        details.dataset.built = "1";
        showHistory(details);
      }
    });
  });
})();
"""
