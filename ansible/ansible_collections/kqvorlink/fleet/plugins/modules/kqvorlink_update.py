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
    report and the exit status are the only sources of the result.
  - In check mode it runs C(kqvorlink-cli check --report) instead, which only logs in, asks
    each unit for its model and version and logs out. No unit is changed, and nothing is
    written on the site host outside the module's own temporary folder; the check report comes
    back as RV(check_report).
  - The task fails when any unit failed or was not started (in check mode, when any unit did
    not answer), with a message that names those units and their messages, and when any unit
    reports another version than O(target_version) after its update, naming those units and
    the versions they gave. It also fails,
    naming the cause, whenever the program did not end its run normally (a signal, the time
    limit, a report whose C(end) is null, a program that is missing or cannot start, a
    refused command line).
  - The site's last update report stays as it is until a new run has passed the program's
    checks and started; a refused run or a program that cannot start leaves it untouched.
  - With O(manifest) and O(allowed_signers) the set is verified on the site host before any
    unit is contacted (in check mode by C(kqvorlink-cli verify), before the units are
    asked). A set whose signature, manifest, files or release do not pass fails the task with
    the program's reason, and no unit is sent anything.
  - The task is C(changed) when any unit was sent any component (the report's
    C(components_acknowledged); for reports without it, a unit that lists components or
    completed), also when the unit failed afterwards. In check mode it is C(changed) when
    RV(would_update) names a unit.
options:
  units:
    description:
      - The site's units, each a dotted IPv4 address, a range such as C(127.0.0.10-127.0.0.25),
        or C(@FILE) naming a file on the site host with one unit per line.
      - They are handed to the program after C(--), so a unit is never taken for an option.
      - May be left out when O(retry_from) is given; the units are then those of that report
        which did not complete. When both are given, both are run (in check mode, checked).
    type: list
    elements: str
  set_dir:
    description: The update set's folder on the site host.
    type: path
    required: true
  report:
    description:
      - Where the update report is written on the site host; its folder is made when missing.
      - Not written in check mode.
    type: path
    required: true
  jobs:
    description: Units updated at a time, 1 to 256 (the program's default is 16).
    type: int
  stop_after_failures:
    description: After this many failed units (1 or more) no further unit is started.
    type: int
  skip_version:
    description:
      - A unit that already reports this version text is left alone and reported as
        C(current).
      - Versions are compared as the program compares them, byte for byte without trailing
        blanks (spaces and tabs); of the report's text the bytes it stands for (a C(\xHH)
        written for a byte that is not UTF-8, or C(\x5C) for a backslash before an x, is that
        byte), of this text its UTF-8 bytes with each C(\xHH) the byte HH, as
        C(kqvorlink-cli check) shows a version (its line breaks, control bytes and backslashes
        escaped so).
      - In check mode such a unit is not counted as one that would change.
    type: str
  target_version:
    description:
      - The version text every unit must run after the run. A unit that already reports it is
        left alone and reported as C(current), as with O(skip_version) (both may be given
        only with the same text).
      - Every unit the run updated is asked again for its version after the update, and
        counts as complete only when it reports this text; the others are returned in
        RV(version_mismatch) and fail the task.
      - In check mode a unit that reports it is not counted as one that would change.
    type: str
    version_added: "1.2.0"
  waves:
    description:
      - Start the units in waves of these cumulative sizes, counts or shares of the units in
        the order given, for instance C(1,10%,100%) for a canary unit, then a tenth, then the
        rest. A wave starts only when every unit of the wave before has ended.
      - After rounding, a size smaller than one before it is raised to it, so one list fits
        sites of any size; only a list that is not of that form is refused (in check mode too).
      - Waves split the units of this one site; Ansible's C(serial) splits the sites.
    type: str
    version_added: "1.2.0"
  max_fail_percent:
    description:
      - Before each further wave, when more than this share (0 to 100) of the units sent the
        set so far failed, no further wave starts and the rest are C(not started) (the
        program's default is 0). A unit left as it is (current) was sent nothing and counts
        neither here nor toward a wave's size.
      - Needs O(waves); given without them the task fails before anything runs, in check
        mode too.
    type: int
    version_added: "1.2.0"
  finish_by:
    description:
      - The end of the maintenance window, C(HH:MM) in the site host's local time (its
        occurrence nearest in real time, before or after now, both of an hour the clocks
        repeat weighed; of two alike near, the later one) or an ISO 8601 date and time
        C(YYYY-MM-DDTHH:MM[:SS]), local or with C(Z) or an offset C(+HH:MM). A local date and
        time that the clocks show twice or never is refused, both readings named. A unit is
        started only when its expected run ends before it; running units are never stopped.
      - A window that has already closed starts no unit (every unit is C(not started)). In
        check mode such a window, and one not of these forms, fails the task, as the update
        would.
      - The site role hands every site the same date and time with its offset, fixed on the
        controller when the playbook run began.
    type: str
    version_added: "1.2.0"
  retry_unanswered:
    description:
      - A unit whose connection was refused or timed out before its greeting (switched off,
        restarting) is tried again later in the same run, at most this many more times
        (0 to 20, the program's default is 0). A unit that answered and then failed is never
        tried again.
    type: int
    version_added: "1.2.0"
  retry_delay:
    description:
      - Seconds (1 to 300) before the first further attempt of O(retry_unanswered), doubled
        for each one after, at most 300 (the program's default is 30).
    type: int
    version_added: "1.2.0"
  retry_from:
    description:
      - An earlier update report on the site host; only its units that did not complete are
        run again.
      - It may be the same file as O(report); the program reads it before it writes anything.
      - When every unit of that report completed and no O(units) are given, no unit is
        contacted and the report is left as it is.
    type: path
  keep_logs:
    description: Keep the logs of complete units too (failed units' logs are always kept).
    type: bool
    default: false
  log_dir:
    description: Folder of the units' logs on the site host (default the set's folder); made
      when missing.
    type: path
  manifest:
    description:
      - The signed manifest of the set on the site host; its signature is at the same path
        with C(.sig) added (C(ssh-keygen -Y sign -n kqvorlink-set)).
      - The program checks the signature, the manifest, every file of O(set_dir) against it
        and its release before it contacts any unit, and refuses the run otherwise; the
        report's C(set) then names the manifest's digest, release and signer.
      - Needs O(allowed_signers).
    type: path
    version_added: "1.4.0"
  allowed_signers:
    description:
      - The C(allowed_signers) file (as C(ssh-keygen -Y verify) reads it) whose keys may sign
        O(manifest). It must not lie in O(set_dir); a set that brings its own signers proves
        nothing.
      - Needs O(manifest).
    type: path
    version_added: "1.4.0"
  allow_downgrade:
    description:
      - Send a set whose release is lower than the highest this site host has sent for the
        model. The report records that a downgrade was allowed.
    type: bool
    default: false
    version_added: "1.4.0"
  operator:
    description:
      - Who started the run, recorded in the report's C(operator) beside the user and host
        that ran the program (the site role gives the controller's user).
    type: str
    version_added: "1.4.0"
  cli:
    description: Path or name of the program.
    type: str
    default: kqvorlink-cli
  timeout:
    description:
      - Seconds (1 or more) after which the program is asked to stop with SIGTERM; it then
        starts no further unit and lets the running ones finish, and the task fails.
      - A running unit is never cut off in the middle of a write. After SIGTERM the module
        waits as long as a unit's run may take by the program's own bounds before it sends
        SIGKILL, so that only a program that no longer keeps its bounds is killed.
      - The waits of O(retry_unanswered) count towards this limit.
      - That wait is every wait of a run at its bound (a component's write is answered within
        10 minutes, the unit is back 1 minute after its CPU program, every other reply comes
        within 1 minute, a connection attempt takes 20 s), 13005 s for the log-ins, two CPU
        program passes, eleven component writes and the default setting, 914 s for the look
        at the version after the update (ten connection attempts 6 s apart), 680 s for the
        look before it when O(skip_version) or O(target_version) is given, and 1080 s for each
        file in O(set_dir).
    type: int
    default: 3600
notes:
  - Supports check mode.
  - Units that a set's version would leave unchanged are the program's business; the module
    only reads the outcome.
author:
  - KQVorlink developers (!UNKNOWN)
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

- name: See what an update would do, without touching any unit or file
  kqvorlink.fleet.kqvorlink_update:
    units: ["@/etc/kqvorlink/units.txt"]
    set_dir: /var/lib/kqvorlink/set
    report: /var/lib/kqvorlink/reports/update-report.json
  check_mode: true
  register: site_check

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

- name: Send only a set that a release engineer signed
  kqvorlink.fleet.kqvorlink_update:
    units: [127.0.0.10-127.0.0.25]
    set_dir: /var/lib/kqvorlink/set
    manifest: /var/lib/kqvorlink/set.manifest
    allowed_signers: /var/lib/kqvorlink/trust/allowed_signers
    operator: alice
    report: /var/lib/kqvorlink/reports/update-report.json

- name: A canary unit first, every unit verified, units switched off tried again
  kqvorlink.fleet.kqvorlink_update:
    units: [127.0.0.10-127.0.0.25]
    set_dir: /var/lib/kqvorlink/set
    report: /var/lib/kqvorlink/reports/update-report.json
    target_version: KQ-A2.01.02.12
    waves: "1,100%"
    max_fail_percent: 0
    finish_by: "2026-12-08T06:00:00+01:00"
    retry_unanswered: 3
    retry_delay: 60
"""

RETURN = r"""
report:
  description: Path of the update report on the site host.
  returned: when not in check mode
  type: str
  sample: /var/lib/kqvorlink/reports/update-report.json
check_report:
  description: The whole check report (it is not kept on the site host).
  returned: in check mode, when the program wrote a report
  type: dict
  sample: {schema: 1, report: check, summary: {answered: 16, not_answered: 0, model_matches: 16}}
units:
  description:
    - The report's units, one dictionary per unit in the order given.
    - An update report's unit has C(address), C(model), C(version_before), C(version_after)
      (schema 2, what the unit said when asked again after the update, or null), C(components),
      C(cpu_passes), C(result) (C(complete), C(current), C(failed) or C(not started)),
      C(message), C(message_kind), C(start), C(end), C(log), C(log_kept) and (schema 2)
      C(attempts). Times carry their offset from UTC from update schema 3 and check schema 2
      on; those of earlier reports are the site host's local time.
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
      start: "2026-12-07T19:30:01+01:00"
      end: "2026-12-07T19:30:04+01:00"
      log: /var/lib/kqvorlink/logs/KQVorlink-127.0.0.10.log
      log_kept: false
summary:
  description: The report's counts (C(complete), C(current), C(failed), C(not_started); in
    check mode C(answered), C(not_answered), C(model_matches)).
  returned: when the program wrote a report
  type: dict
  sample: {complete: 15, current: 0, failed: 1, not_started: 0}
not_complete:
  description: Addresses of the units that are not done (in check mode, that did not answer
    or are not of the set's model).
  returned: when the program wrote a report
  type: list
  elements: str
would_update:
  description: In check mode, the addresses an update would send components to.
  returned: in check mode
  type: list
  elements: str
version_mismatch:
  description:
    - Addresses of the units that reported another version than the report's
      C(target_version) when they were asked again after their update (C(version_after)).
      Empty without O(target_version); a unit that did not answer that question is only in
      RV(not_complete).
  returned: when the program wrote an update report
  type: list
  elements: str
  sample: [127.0.0.10]
set:
  description:
    - The report's C(set), what the units were sent; null from a program whose report does
      not give it.
  returned: when the program wrote an update report
  type: dict
  sample: {signed: true, sha256: 0c5e0a3dc5d0f1b2c3a4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a,
           release: 12, signer: release@example.org}
operator:
  description: The report's C(operator), who ran the update where; null when not given.
  returned: when the program wrote an update report
  type: dict
  sample: {user: root, host: site-north, text: alice}
verdict:
  description: In check mode with O(manifest), what C(kqvorlink-cli verify) said of the set.
  returned: in check mode, when the set was verified
  type: str
kept_logs:
  description: Paths of the logs the run kept on the site host.
  returned: when the program wrote an update report
  type: list
  elements: str
exit_status:
  description: The program's exit status, negative for the signal that ended it (not named
    rc, so that Ansible judges the task by the module, not by the status).
  returned: when the program ran
  type: int
cmd:
  description: The command line that was run.
  returned: when the program ran
  type: list
  elements: str
"""

import os
import signal
import subprocess
import time

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_reports import (
    read_report, unit_done, unit_sent_components, version_given, version_in_report)
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_rollout import (
    finish_by_moment, later_day, local_iso, waves_problem)


ARGUMENT_SPEC = dict(
    units=dict(type="list", elements="str"),
    set_dir=dict(type="path", required=True),
    report=dict(type="path", required=True),
    jobs=dict(type="int"),
    stop_after_failures=dict(type="int"),
    skip_version=dict(type="str"),
    target_version=dict(type="str"),
    waves=dict(type="str"),
    max_fail_percent=dict(type="int"),
    finish_by=dict(type="str"),
    retry_unanswered=dict(type="int"),
    retry_delay=dict(type="int"),
    retry_from=dict(type="path"),
    keep_logs=dict(type="bool", default=False),
    log_dir=dict(type="path"),
    manifest=dict(type="path"),
    allowed_signers=dict(type="path"),
    allow_downgrade=dict(type="bool", default=False),
    operator=dict(type="str"),
    cli=dict(type="str", default="kqvorlink-cli"),
    timeout=dict(type="int", default=3600),
)

# Bounds the argument spec has no word for (lowest, highest or None), checked with it before
# anything runs.
BOUNDS = dict(jobs=(1, 256), stop_after_failures=(1, None), timeout=(1, None),
              max_fail_percent=(0, 100), retry_unanswered=(0, 20), retry_delay=(1, 300))

# A unit's run at every bound of the program (link/socket_exchange.h), in seconds: what a unit
# that is running when SIGTERM comes may still take. A command's send may stall for a minute
# and its reply take another; a write is answered within 10 minutes.
_REPLY, _WRITE, _CONNECT, _RESTART, _QUIET = 60, 600, 20, 60, 2
_EXCHANGE = 2 * _REPLY
_LOG_IN = _REPLY + 7 * _EXCHANGE  # greeting, USER, PASS, identity and update-mode commands
_CPU_PASS = (_CONNECT + _EXCHANGE + _REPLY + _QUIET + _RESTART  # telnet, u_soft, restart
             + 10 * _CONNECT + _LOG_IN)  # logged in again, up to ten attempts
_COMPONENT = _EXCHANGE + _REPLY + _WRITE  # selector, then u_soft and its written answer
_PER_FILE = 2 * _EXCHANGE + 4 * _REPLY + _WRITE  # PORT, TYPE, STOR, data link, send, stored
_FIXED = 1 + _CONNECT + _LOG_IN + 2 * _CPU_PASS + 11 * _COMPONENT + _REPLY + _WRITE + _EXCHANGE
# A look as `check` takes it: the greeting, USER, PASS, the two identity commands and QUIT.
_LOOK = _REPLY + 5 * _EXCHANGE
# Before the update, with a version to leave alone: one connection attempt and a look.
_LOOK_BEFORE = _CONNECT + _LOOK
# After it (with a target version, and always after a CPU program, so always counted): up to
# ten connection attempts with the restart pause between them, and a look.
_PAUSE = 6
_LOOK_AFTER = 10 * _CONNECT + 9 * _PAUSE + _LOOK


def longest_unit_run(params):
    """Seconds a unit's run may take with these options when every wait runs to its bound."""
    set_dir = params["set_dir"]
    try:
        files = [n for n in os.listdir(set_dir) if os.path.isfile(os.path.join(set_dir, n))]
    except OSError:
        files = []
    looks_first = params["skip_version"] is not None or params["target_version"] is not None
    return _FIXED + _LOOK_AFTER + _LOOK_BEFORE * looks_first + _PER_FILE * len(files)


def units_to_retry(module, retry_from):
    """The units of an earlier update report that are not done."""
    report, problem = read_report(retry_from, "update")
    if problem:
        module.fail_json(msg="retry_from: " + problem)
    return [u["address"] for u in report["units"] if not unit_done(u)]


def find_program(module):
    cli = module.params["cli"]
    if os.sep in cli:
        found = cli if os.path.isfile(cli) and os.access(cli, os.X_OK) else None
    else:
        found = module.get_bin_path(cli)
    if not found:
        module.fail_json(msg="kqvorlink-cli not found: %s" % cli)
    return found


def build_command(module, program, report_path, units):
    # Every value is joined to its option and the units follow "--": nothing a user writes is
    # read as an option of the program.
    p = module.params
    check = module.check_mode
    cmd = [program, "check" if check else "update", "--set=" + p["set_dir"],
           "--report=" + report_path]
    if p["jobs"] is not None:
        cmd.append("--jobs=%d" % p["jobs"])
    if not check:
        if p["log_dir"]:
            cmd.append("--log-dir=" + p["log_dir"])
        if p["keep_logs"]:
            cmd.append("--keep-logs")
        for name in ("stop_after_failures", "max_fail_percent", "retry_unanswered",
                     "retry_delay", "skip_version", "target_version", "waves", "finish_by"):
            if p[name] is not None:
                cmd.append("--%s=%s" % (name.replace("_", "-"), p[name]))
        if p["retry_from"]:
            cmd.append("--retry-from=" + p["retry_from"])
        if p["operator"] is not None:
            cmd.append("--operator=" + p["operator"])
        cmd += signed_set_options(p)
    return cmd + ["--"] + units


def signed_set_options(params):
    """What the program is told of the set's manifest, for update and verify alike."""
    if not params["manifest"]:
        return []
    options = ["--manifest=" + params["manifest"], "--allowed-signers=" + params["allowed_signers"]]
    return options + (["--allow-downgrade"] if params["allow_downgrade"] else [])


def identity(path):
    """The file as it is now: a program that replaced or rewrote it changes this."""
    try:
        st = os.stat(path)
    except OSError:
        return None
    return (st.st_dev, st.st_ino, st.st_size, st.st_mtime_ns, st.st_ctime_ns)


def output_file(module, name):
    """Where the program's output (cli-out.txt) or error output (cli-err.txt) goes."""
    return os.path.join(module.tmpdir, name)


def first_of(path):
    with open(path, "rb") as f:
        return f.read(4000).decode("utf-8", "replace").strip()


def run_program(module, cmd):
    """Runs the program within the time limit: (exit status, how it was stopped or None,
    its error output). Its output goes to files in the module's own folder."""
    out_path, err_path = (output_file(module, n) for n in ("cli-out.txt", "cli-err.txt"))
    try:
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    close_fds=True)
    except OSError as e:
        module.fail_json(msg="kqvorlink-cli cannot be started: %s: %s" % (cmd[0], e), cmd=cmd)
    stopped = None
    try:
        status = proc.wait(module.params["timeout"])
    except subprocess.TimeoutExpired:
        proc.send_signal(signal.SIGTERM)
        grace = longest_unit_run(module.params)
        stopped = "the time limit of %d s ran out; kqvorlink-cli was stopped with SIGTERM" % (
            module.params["timeout"])
        try:
            status = proc.wait(grace)
        except subprocess.TimeoutExpired:
            proc.kill()
            status = proc.wait()
            stopped += " and killed %d s later, having outrun its own bounds" % grace
    return status, stopped, first_of(err_path)


def signal_name(status):
    try:
        return signal.Signals(-status).name
    except ValueError:
        return "signal %d" % -status


def named(units, describe):
    return "; ".join("%s: %s" % (u.get("address"), describe(u)) for u in units)


def judge_update(report, result, module):
    """Fills `result` from an update report; what failed, as a list of messages."""
    units, problems = report["units"], []
    bad = [u for u in units if not unit_done(u)]
    # Judged here too, not only by the unit's result: a unit said to be complete that runs
    # another version is no complete unit.
    target = version_in_report(report.get("target_version"))
    other = [u for u in units if target is not None and isinstance(u.get("version_after"), str)
             and version_in_report(u["version_after"]) != target]
    result.update(
        units=units, summary=report["summary"],
        not_complete=[u["address"] for u in bad],
        version_mismatch=[u["address"] for u in other],
        kept_logs=[u["log"] for u in units if u.get("log_kept") and isinstance(u.get("log"), str)],
        changed=any(unit_sent_components(u) for u in units),
        set=report.get("set"), operator=report.get("operator"),
    )
    if module and module.params["manifest"] and not (
            isinstance(report.get("set"), dict) and report["set"].get("signed") is True):
        # A run given a manifest whose report says it sent an unsigned set sent what nobody
        # verified.
        problems.append("the report does not say that the set was verified against %s" % (
            module.params["manifest"]))
    if other:
        problems.append("%d unit(s) do not run %s after the update: %s" % (len(other), report[
            "target_version"], named(other, lambda u: u["version_after"])))
    if not bad:
        return problems
    return ["%d of %d unit(s) did not complete: %s" % (len(bad), len(units), named(
        bad, lambda u: "%s (%s)" % (u.get("result"), u.get("message"))))] + problems


def judge_check(report, result, module):
    """Fills `result` from a check report; what failed, as a list of messages."""
    units = report["units"]
    # Compared as the program compares them: the unit's bytes, without trailing blanks.
    kept = [version_given(module.params[n]) for n in ("skip_version", "target_version")
            if module.params[n] is not None]
    silent = [u for u in units if u.get("answered") is not True]
    other = [u for u in units if u.get("answered") is True and u.get("model_matches") is not True]
    would = [u for u in units if u.get("answered") is True and u.get("model_matches") is True
             and version_in_report(u.get("version")) not in kept and u.get("components")]
    result.update(
        check_report=report, units=units, summary=report["summary"],
        not_complete=[u["address"] for u in silent + other],
        would_update=[u["address"] for u in would],
        changed=bool(would),
    )
    if other:
        module.warn("not of the set's model, an update would fail: " + named(
            other, lambda u: u.get("model")))
    if not silent:
        return []
    return ["%d of %d unit(s) did not answer: %s" % (len(silent), len(units), named(
        silent, lambda u: u.get("message")))]


def finish(module, cmd, report_path, before, verdict):
    """Runs the program and ends the task by what it did and what its report says."""
    check = module.check_mode
    status, stopped, err_text = run_program(module, cmd)
    result = dict(changed=False, exit_status=status, cmd=cmd)
    if verdict is not None:
        result["verdict"] = verdict
    if not check:
        result["report"] = report_path
    problems = [stopped] if stopped else []
    if status < 0 and not stopped:
        problems.append("kqvorlink-cli was ended by %s" % signal_name(status))
    kept = "" if check else "; the last report at %s is left as it was" % report_path
    if status == 2:
        problems.append("kqvorlink-cli refused %s: %s%s" % (
            "the run before contacting any unit" if module.params["manifest"] else
            "its command line", err_text, kept))
        module.fail_json(msg="; ".join(problems), **result)
    if identity(report_path) in (None, before):
        problems.append("kqvorlink-cli wrote no report (exit status %d)%s" % (status, kept))
        module.fail_json(msg="; ".join(problems), **result)
    report, problem = read_report(report_path, "check" if check else "update")
    if problem:
        module.fail_json(msg="; ".join(problems + ["kqvorlink-cli left no usable report: " +
                                                   problem]), **result)
    if report["end"] is None:
        problems.append("its report says the run did not end")
    unit_problems = (judge_check if check else judge_update)(report, result, module)
    problems += unit_problems
    other_model = check and result["not_complete"]
    if status not in (0, 1) or (status == 1 and not unit_problems and not other_model):
        problems.append("kqvorlink-cli exit status %d" % status)
    if problems:
        module.fail_json(msg="; ".join(problems), **result)
    module.exit_json(**result)


def verify_set(module, program):
    """In check mode, `kqvorlink-cli verify` of the signed set before any unit is asked: an
    update would refuse a set that does not pass. Returns the program's verdict."""
    cmd = [program, "verify", "--set=" + module.params["set_dir"]] + signed_set_options(
        module.params)
    status, stopped, err_text = run_program(module, cmd)
    verdict = first_of(output_file(module, "cli-out.txt"))
    if status != 0:
        why = stopped or ("ended by " + signal_name(status) if status < 0 else
                          "exit status %d" % status)
        module.fail_json(msg="the set does not verify (kqvorlink-cli verify, %s): %s" % (
            why, err_text or verdict), changed=False, exit_status=status, cmd=cmd)
    return verdict


def signers_problem(params):
    """Why the allowed signers cannot be taken, or None: a file inside the set's folder came
    with the set, and a set that brings its own signers proves nothing."""
    if not params["allowed_signers"]:
        return None
    signers = os.path.realpath(params["allowed_signers"])
    folder = os.path.realpath(params["set_dir"])
    if os.path.commonpath([signers, folder]) == folder:
        return "allowed_signers must not be in the set's folder %s: %s" % (
            params["set_dir"], params["allowed_signers"])
    return None


def rollout_problem(params, check):
    """What the program would refuse in the roll-out options, or None. The program judges an
    update itself; a check, which does not use them, judges them here."""
    if params["max_fail_percent"] is not None and not params["waves"]:
        return "max_fail_percent must be given with waves: the budget is applied between waves"
    if not check:
        return None
    if params["waves"] is not None and waves_problem(params["waves"]):
        return "waves: " + waves_problem(params["waves"])
    if params["finish_by"] is None:
        return None
    now = time.time()
    end, why = finish_by_moment(params["finish_by"], now)
    if why:
        return "finish_by: " + why
    if end <= now:
        later = later_day(end, now)
        return ("finish_by: the window closed at %s; an update now would start no unit (%s)" % (
            local_iso(end), "give an ISO 8601 date and time, such as %s, to mean a later day's" %
            later if later else "give a date and time ahead with its offset to mean a later one"))
    return None


def main():
    module = AnsibleModule(
        argument_spec=ARGUMENT_SPEC,
        required_one_of=[("units", "retry_from")],
        required_together=[("manifest", "allowed_signers")],
        supports_check_mode=True,
    )
    p = module.params
    for name, (low, high) in BOUNDS.items():
        if p[name] is not None and (p[name] < low or (high is not None and p[name] > high)):
            module.fail_json(msg="%s must be %s, not %d" % (
                name, "%d to %d" % (low, high) if high else "%d or more" % low, p[name]))
    refused = rollout_problem(p, module.check_mode) or signers_problem(p)
    if refused:
        module.fail_json(msg=refused)
    program = find_program(module)
    verdict = verify_set(module, program) if module.check_mode and p["manifest"] else None
    units = list(p["units"] or [])
    if p["retry_from"]:
        retry = units_to_retry(module, p["retry_from"])
        if not retry and not units:
            # Nothing left to retry: no unit is contacted, and the last report stays as it is.
            module.exit_json(changed=False, units=[], summary={}, not_complete=[],
                             would_update=[], version_mismatch=[], kept_logs=[],
                             report=p["retry_from"],
                             msg="every unit of %s completed" % p["retry_from"])
        if module.check_mode:
            units = retry + [u for u in units if u not in retry]
    if module.check_mode:
        # Nothing is written on the site host: the report lives in the module's own folder.
        report_path = os.path.join(module.tmpdir, "check-report.json")
    else:
        report_path = p["report"]
        for folder in (os.path.dirname(report_path), p["log_dir"]):
            try:
                if folder and not os.path.isdir(folder):
                    os.makedirs(folder, 0o755)
            except OSError as e:
                module.fail_json(msg="%s cannot be made: %s" % (folder, e))
    cmd = build_command(module, program, report_path, units)
    finish(module, cmd, report_path, identity(report_path), verdict)


if __name__ == "__main__":
    main()
