#!/usr/bin/python
# -*- coding: utf-8 -*-
# Runs kqvorlink-cli on a site host and hands its JSON report back to the controller.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: kqvorlink_update
short_description: Update the camera control units of one site with kqvorlink-cli
version_added: "1.0.0"
description:
  - Runs C(kqvorlink-cli update) on the site host against the site's units and returns the
    units and summary of its JSON report. The program's printed output is never read; the
    report is the only source of the result.
  - In check mode it runs C(kqvorlink-cli check --report) instead, which only logs in, asks
    each unit for its model and version and logs out. No unit is changed.
  - The task fails when any unit failed or was not started (in check mode, when any unit did
    not answer), with a message that names those units and their messages.
options:
  units:
    description:
      - The site's units, each a dotted IPv4 address, a range such as C(127.0.0.10-127.0.0.25),
        or C(@FILE) naming a file on the site host with one unit per line.
      - May be left out when O(retry_from) is given; the units are then those of that report
        which did not complete.
    type: list
    elements: str
  set_dir:
    description: The update set's folder on the site host.
    type: path
    required: true
  report:
    description:
      - Where the update report is written on the site host; its folder is made when missing.
      - In check mode the check report goes beside it, named C(check-) followed by its name.
    type: path
    required: true
  jobs:
    description: Units updated at a time (1 to 256; the program's default is 16).
    type: int
  stop_after_failures:
    description: After this many failed units no further unit is started.
    type: int
  skip_version:
    description:
      - A unit that already reports this version text is left alone and reported as
        C(current).
      - In check mode such a unit is not counted as one that would change.
    type: str
  retry_from:
    description:
      - An earlier update report on the site host; only its units that did not complete are
        run again.
      - It may be the same file as O(report); it is then kept beside it as
        C(<report>.previous) before the run overwrites it.
      - When every unit of that report completed, no unit is contacted and the report is left
        as it is.
    type: path
  keep_logs:
    description: Keep the logs of complete units too (failed units' logs are always kept).
    type: bool
    default: false
  log_dir:
    description: Folder of the units' logs on the site host (default the set's folder); made
      when missing.
    type: path
  cli:
    description: Path or name of the program.
    type: str
    default: kqvorlink-cli
  timeout:
    description: Seconds after which the program is stopped; its report then says which units
      had not ended.
    type: int
    default: 3600
notes:
  - Supports check mode.
  - Units that a set's version would leave unchanged are the program's business; the module
    only reads the outcome.
author:
  - KQVorlink developers
"""

EXAMPLES = r"""
- name: Update the site's units
  kqvorlink.fleet.kqvorlink_update:
    units:
      - 127.0.0.10-127.0.0.25
    set_dir: /var/lib/kqvorlink/set
    report: /var/lib/kqvorlink/reports/update-report.json
    log_dir: /var/lib/kqvorlink/logs
    jobs: 16
  register: site_update

- name: See what an update would do, without touching any unit
  kqvorlink.fleet.kqvorlink_update:
    units: ["@/etc/kqvorlink/units.txt"]
    set_dir: /var/lib/kqvorlink/set
    report: /var/lib/kqvorlink/reports/update-report.json
  check_mode: true

- name: Run again only what did not complete last time
  kqvorlink.fleet.kqvorlink_update:
    retry_from: /var/lib/kqvorlink/reports/update-report.json
    set_dir: /var/lib/kqvorlink/set
    report: /var/lib/kqvorlink/reports/update-report.json

- name: Leave alone the units that already run the new version
  kqvorlink.fleet.kqvorlink_update:
    units: [127.0.0.10-127.0.0.25]
    set_dir: /var/lib/kqvorlink/set
    report: /var/lib/kqvorlink/reports/update-report.json
    skip_version: KQ-A2.01.02.50
"""

RETURN = r"""
report:
  description: Path of the report on the site host (the check report in check mode).
  returned: always
  type: str
  sample: /var/lib/kqvorlink/reports/update-report.json
units:
  description:
    - The report's units, one dictionary per unit in the order given.
    - An update report's unit has C(address), C(model), C(version_before), C(version_after)
      (schema 2, what the unit said when asked again after the update, or null), C(components),
      C(cpu_passes), C(result) (C(complete), C(current), C(failed) or C(not started)),
      C(message), C(message_kind), C(start), C(end), C(log) and C(log_kept).
    - A check report's unit has C(address), C(answered), C(message), C(model), C(version),
      C(model_matches), C(components), C(files), C(bytes) and C(cpu_passes).
  returned: when the program wrote a report
  type: list
  elements: dict
  sample:
    - address: 127.0.0.10
      model: KQ-A2
      version_before: KQ-A2.01.02.45
      version_after: null
      components: [{component: Logo, file: LOGO.bmp, bytes: 3126}]
      cpu_passes: 0
      result: complete
      message: Update Complete.
      message_kind: information
      start: "2026-12-07T19:30:01"
      end: "2026-12-07T19:30:04"
      log: /var/lib/kqvorlink/logs/KQVorlink-127.0.0.10.log
      log_kept: false
summary:
  description: The report's counts (C(complete), C(current), C(failed), C(not_started); in
    check mode C(answered), C(not_answered), C(model_matches)).
  returned: when the program wrote a report
  type: dict
  sample: {complete: 15, current: 0, failed: 1, not_started: 0}
not_complete:
  description: Addresses of the units that failed or were not started (in check mode, that did
    not answer or are not of the set's model).
  returned: when the program wrote a report
  type: list
  elements: str
would_update:
  description: In check mode, the addresses an update would send components to.
  returned: in check mode
  type: list
  elements: str
kept_logs:
  description: Paths of the logs the run kept on the site host.
  returned: when the program wrote an update report
  type: list
  elements: str
exit_status:
  description: The program's exit status (not named rc, so that Ansible judges the task by the
    report, not by the status).
  returned: when the program ran
  type: int
cmd:
  description: The command line that was run.
  returned: when the program ran
  type: list
  elements: str
"""

import json
import os
import shutil

from ansible.module_utils.basic import AnsibleModule


ARGUMENT_SPEC = dict(
    units=dict(type="list", elements="str"),
    set_dir=dict(type="path", required=True),
    report=dict(type="path", required=True),
    jobs=dict(type="int"),
    stop_after_failures=dict(type="int"),
    skip_version=dict(type="str"),
    retry_from=dict(type="path"),
    keep_logs=dict(type="bool", default=False),
    log_dir=dict(type="path"),
    cli=dict(type="str", default="kqvorlink-cli"),
    timeout=dict(type="int", default=3600),
)


def check_report_path(report):
    folder, name = os.path.split(report)
    return os.path.join(folder, "check-" + name)


def retry_source(module, retry_from, report):
    """The report to retry from, kept apart when the new run would overwrite it."""
    if not os.path.exists(retry_from):
        module.fail_json(msg="retry_from: no report at %s" % retry_from)
    if os.path.realpath(retry_from) != os.path.realpath(report):
        return retry_from
    previous = report + ".previous"
    shutil.copyfile(retry_from, previous)
    return previous


def build_command(module, check, report_path):
    p = module.params
    cli = module.get_bin_path(p["cli"], required=True) if "/" not in p["cli"] else p["cli"]
    cmd = [cli, "check" if check else "update", "--set", p["set_dir"], "--report", report_path]
    if p["jobs"] is not None:
        cmd += ["--jobs", str(p["jobs"])]
    if not check:
        if p["log_dir"]:
            cmd += ["--log-dir", p["log_dir"]]
        if p["keep_logs"]:
            cmd.append("--keep-logs")
        if p["stop_after_failures"] is not None:
            cmd += ["--stop-after-failures", str(p["stop_after_failures"])]
        if p["skip_version"] is not None:
            cmd += ["--skip-version", p["skip_version"]]
        if p["retry_from"]:
            cmd += ["--retry-from", retry_source(module, p["retry_from"], report_path)]
    return cmd + list(p["units"] or [])


def units_to_retry(module, retry_from):
    """The units of an earlier update report that did not complete."""
    try:
        with open(retry_from, "rb") as f:
            units = json.load(f)["units"]
        return [u["address"] for u in units if u["result"] not in ("complete", "current")]
    except (OSError, ValueError, KeyError, TypeError) as e:
        module.fail_json(msg="retry_from %s: not a readable update report (%s)" % (retry_from, e))


# The report layouts this module reads (2 added version_after and target_version).
KNOWN_SCHEMAS = (1, 2)


def read_report(module, path, kind, result):
    try:
        with open(path, "rb") as f:
            report = json.load(f)
    except (OSError, ValueError) as e:
        module.fail_json(msg="kqvorlink-cli left no readable report at %s (%s)" % (path, e), **result)
    if not isinstance(report, dict) or report.get("report") != kind or \
            report.get("schema") not in KNOWN_SCHEMAS:
        module.fail_json(msg="%s is not a %s report of schema %s" % (
            path, kind, " or ".join(map(str, KNOWN_SCHEMAS))), **result)
    if not isinstance(report.get("units"), list) or not isinstance(report.get("summary"), dict):
        module.fail_json(msg="%s holds no units or summary" % path, **result)
    return report


def named(units, describe):
    return "; ".join("%s: %s" % (u.get("address"), describe(u)) for u in units)


def finish_update(module, report, result):
    units = report["units"]
    bad = [u for u in units if u.get("result") not in ("complete", "current")]
    result.update(
        units=units,
        summary=report["summary"],
        not_complete=[u.get("address") for u in bad],
        kept_logs=[u["log"] for u in units if u.get("log_kept") and u.get("log")],
        changed=any(u.get("result") == "complete" for u in units),
    )
    if report.get("end") is None:
        module.fail_json(msg="kqvorlink-cli stopped before its run ended (exit status %s); %d "
                         "unit(s) had not ended" % (result["exit_status"], len(bad)), **result)
    if bad:
        module.fail_json(msg="%d of %d unit(s) did not complete: %s" % (
            len(bad), len(units), named(bad, lambda u: "%s (%s)" % (u.get("result"), u.get("message")))),
            **result)
    if result["exit_status"] != 0:
        module.fail_json(msg="kqvorlink-cli exit status %s although every unit completed"
                         % result["exit_status"], **result)
    module.exit_json(**result)


def finish_check(module, report, result):
    units = report["units"]
    skip = module.params["skip_version"]
    silent = [u for u in units if not u.get("answered")]
    other = [u for u in units if u.get("answered") and not u.get("model_matches")]
    would = [u for u in units if u.get("answered") and u.get("model_matches")
             and u.get("version") != skip and u.get("components")]
    result.update(
        units=units,
        summary=report["summary"],
        not_complete=[u.get("address") for u in silent + other],
        would_update=[u.get("address") for u in would],
        changed=bool(would),
    )
    if other:
        module.warn("not of the set's model, an update would fail: " + named(
            other, lambda u: u.get("model")))
    if silent:
        module.fail_json(msg="%d of %d unit(s) did not answer: %s" % (
            len(silent), len(units), named(silent, lambda u: u.get("message"))), **result)
    module.exit_json(**result)


def main():
    module = AnsibleModule(
        argument_spec=ARGUMENT_SPEC,
        required_one_of=[("units", "retry_from")],
        supports_check_mode=True,
    )
    p = module.params
    check = module.check_mode
    if p["retry_from"] and not p["units"]:
        # Nothing left to retry: no unit is contacted, and the last report stays as it is.
        if not units_to_retry(module, p["retry_from"]):
            module.exit_json(changed=False, units=[], summary={}, not_complete=[],
                             would_update=[], kept_logs=[], report=p["retry_from"],
                             msg="every unit of %s completed" % p["retry_from"])
        if check:
            p["units"] = units_to_retry(module, p["retry_from"])
    report_path = check_report_path(p["report"]) if check else p["report"]
    for folder in (os.path.dirname(report_path), p["log_dir"]):
        if folder and not os.path.isdir(folder):
            os.makedirs(folder, 0o755)
    cmd = build_command(module, check, report_path)
    # A report left by an earlier run must never pass for this run's.
    if os.path.exists(report_path):
        os.unlink(report_path)
    timeout = ["timeout", "--signal=TERM", "--kill-after=60", str(p["timeout"])]
    rc, _out, err = module.run_command(timeout + cmd)
    result = dict(changed=False, exit_status=rc, cmd=cmd, report=report_path)
    if rc == 2:
        module.fail_json(msg="kqvorlink-cli refused its command line: %s" % err.strip(), **result)
    report = read_report(module, report_path, "check" if check else "update", result)
    (finish_check if check else finish_update)(module, report, result)


if __name__ == "__main__":
    main()
