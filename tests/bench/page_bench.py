#!/usr/bin/python3
"""Benchmark of the fleet page at the site role's defaults: 64 sites x 64 units x 100 kept runs.

Writes the kept runs (update reports, a unit's result, versions and message changing from run
to run), then measures:

  module       the page module run as Ansible runs it (a process of its own): wall and
               processor time, peak memory, the page's size
  load         headless Chromium (tests/sites/page_browser.py) opening the page until its
               first frame is painted
  scroll       the unit table from its top to its bottom, a screen at a time, each screen
               painted before the next
  history      opening the first site's history until its table is painted

    tests/bench/page_bench.py [--collection ansible/ansible_collections/kqvorlink/fleet]
        [--sites 64] [--units 64] [--runs 100] [--keep]

--collection may name another tree's collection (an older one, to compare). Needs Debian's
ansible-core, chromium, chromium-driver and python3-selenium; the driver listens on loopback.
"""

import argparse
import json
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "sites"))

from page_browser import PageBrowser  # noqa: E402

RESULTS = ("complete", "failed", "current")
# Resolves once the next frame has been laid out and painted.
PAINTED = "var done=arguments[arguments.length-1];" \
          "requestAnimationFrame(function(){setTimeout(done,0)})"
# Scrolls the unit table a screen at a time, each screen painted before the next; the steps.
SCROLL = """var done=arguments[0],t=document.getElementById('units'),steps=0;
t.scrollIntoView();function next(){requestAnimationFrame(function(){setTimeout(function(){
var r=t.getBoundingClientRect();if(r.bottom<=window.innerHeight||steps>5000){done(steps);return}
window.scrollBy(0,window.innerHeight);steps++;next()},0)})}next()"""
# Opens the first history (a details element after the histories' heading) and tells how many
# rows its table has once painted.
HISTORY = """var done=arguments[0];
var d=document.querySelector('#histories ~ details, #histories ~ * details');
d.querySelector('summary').click();requestAnimationFrame(function(){setTimeout(function(){
var t=d.querySelector('table');done(t?t.rows.length:-1)},0)})"""


def unit(site, number, run, start):
    result = RESULTS[(number + run) % 3]
    return dict(address="127.0.%d.%d" % (site, number + 10), model="KQ-A2",
                version_before="KQ-A2.01.%02d.%02d" % (run, number),
                version_after="KQ-A2.01.%02d.%02d" % (run + 1, number) if result == "complete"
                else None, components=[], components_acknowledged=0, cpu_passes=1,
                result=result, message="Update Complete. %d" % number,
                message_kind="information", start=start,
                end=start[:14] + "%02d:%02d+01:00" % (number // 60 + 30, number % 60), log=None,
                log_kept=False, attempts=1, wave=None,
                runs=[dict(start=start, end=None, message="Update Complete.")], answered=True)


def write_runs(reports, sites, units, runs):
    for s in range(sites):
        folder = os.path.join(reports, "site%02d" % s, "runs")
        os.makedirs(folder)
        for r in range(runs):
            day, hour = divmod(r, 20)
            start = "2026-11-%02dT%02d:%02d:00+01:00" % (day + 1, hour, s % 60)
            report = dict(schema=2, report="update", program="kqvorlink-cli", version="2.0.0.0",
                          set=dict(folder="/set", model="KQ-A2"), start=start, end=start,
                          target_version="KQ-A2.01.%02d.00" % (r + 1), summary=dict(
                              complete=0, current=0, failed=0, not_started=0),
                          units=[unit(s, u, r, start) for u in range(units)])
            name = "%s-update.json" % start[:19].replace(":", "")
            with open(os.path.join(folder, name), "w") as f:
                json.dump(report, f)


def run_module(collection, reports):
    """(wall s, processor s, peak MiB, page bytes) of the module run as a process."""
    args = os.path.join(os.path.dirname(reports), "args.json")
    with open(args, "w") as f:
        json.dump({"ANSIBLE_MODULE_ARGS": {"reports": reports}}, f)
    collections = os.path.dirname(os.path.dirname(os.path.abspath(collection)))
    env = dict(os.environ, PYTHONPATH=os.path.dirname(collections))
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    out = subprocess.run([sys.executable, os.path.join(collection, "plugins", "modules",
                                                       "kqvorlink_fleet_page.py"), args],
                         env=env, capture_output=True, check=False, timeout=600)
    wall = time.monotonic() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = json.loads(out.stdout)
    if result.get("failed"):
        raise RuntimeError(result.get("msg"))
    cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    return wall, cpu, after.ru_maxrss / 1024.0, result["page"], result["bytes"]


def timed(browser, script):
    """(seconds, what the script gave) of an asynchronous script."""
    started = time.monotonic()
    value = browser.driver.execute_async_script(script)
    return time.monotonic() - started, value


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--collection", default=os.path.join(
        ROOT, "ansible", "ansible_collections", "kqvorlink", "fleet"))
    parser.add_argument("--sites", type=int, default=64)
    parser.add_argument("--units", type=int, default=64)
    parser.add_argument("--runs", type=int, default=100)
    parser.add_argument("--keep", action="store_true", help="keep the temp folder")
    args = parser.parse_args()
    folder = tempfile.mkdtemp(prefix="kqpagebench.")
    try:
        reports = os.path.join(folder, "reports")
        write_runs(reports, args.sites, args.units, args.runs)
        wall, cpu, peak, page, size = run_module(args.collection, reports)
        rows = [("module: page written", "%.2f s (cpu %.2f s), peak %.0f MiB" % (wall, cpu, peak)),
                ("page size", "%d bytes (%.1f MB)" % (size, size / 1e6))]
        with PageBrowser(folder) as browser:
            browser.driver.set_script_timeout(300)
            started, cpu = time.monotonic(), browser.cpu()
            browser.driver.get("file://" + page)
            browser.driver.execute_async_script(PAINTED)
            rows.append(("load: first frame painted", "%.2f s (browser cpu %.2f s)" % (
                time.monotonic() - started, browser.cpu() - cpu)))
            cpu = browser.cpu()
            seconds, steps = timed(browser, SCROLL)
            rows.append(("scroll: unit table, a screen at a time", "%.2f s, %d screens "
                         "(browser cpu %.2f s)" % (seconds, steps, browser.cpu() - cpu)))
            cpu = browser.cpu()
            seconds, shown = timed(browser, HISTORY)
            rows.append(("history: first site's opened", "%.2f s, %d rows (browser cpu %.2f s)"
                         % (seconds, shown, browser.cpu() - cpu)))
    finally:
        if not args.keep:
            shutil.rmtree(folder, ignore_errors=True)
    print("%d sites x %d units x %d kept runs (%s)" % (args.sites, args.units, args.runs,
                                                       args.collection))
    for name, value in rows:
        print("%-42s %s" % (name, value))
    return 0


if __name__ == "__main__":
    sys.exit(main())
