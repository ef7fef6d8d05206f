#!/usr/bin/python
# -*- coding: utf-8 -*-
# Writes the fleet page on the controller from every site's kept runs.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: kqvorlink_fleet_page
short_description: Write one HTML page that shows every unit of every site
version_added: "1.3.0"
description:
  - Reads the kept runs of every site (the check and update reports that the site role keeps
    in C(<reports>/<site>/runs/), of every schema the collection reads; a site with none yet
    is read from its last reports) and writes one self-contained HTML file. Its style, script
    and data are inside it and it loads nothing, so it opens from a file or from any web server.
  - The page shows when it was written, the fleet's summary (units per site, model and
    version, how many run the target version, are off target, failed in their last update and
    did not answer when last asked, with their shares; a row a site, those that need a look
    marked, with the time of its newest data and whether this playbook run reached it), every
    unit in one table (its version, its last update and its last check side by side; complete
    without script; a few lines of script sort every table by any column, from the mouse or the
    keyboard, and filter the units by site, last update's result and version), each site's last
    update as a timeline (inline SVG, a row a unit, a segment an attempt, a time axis with round
    ticks, the waves' starts from the report's own C(wave) fields and the window's end) and each
    unit's history across the runs, built when opened from data embedded once in the page.
  - Times with a UTC offset are that moment; a report without offsets is read in the
    controller's zone. Runs are ordered by moment.
  - Each site's row names the set its last update sent (the first hex digits of the digest
    in its report's C(set), the release and the signer) and who started that update and when;
    the summary counts the sites that sent each set. A site whose last update sent another set
    than the fleet's newest for its model (of the signed sets the highest release, else the
    one sent last), an unsigned set or a downgrade is marked and counted.
  - Every text that came from a site host or a unit is shown as text, never as markup.
  - Runs on the controller; use it with C(delegate_to=localhost) and C(run_once).
  - In check mode nothing is written.
options:
  reports:
    description: The reports folder on the controller, one folder per site (the site role's
      C(kqvorlink_reports)).
    type: path
    required: true
  dest:
    description: The page's path; its folder must exist. Default C(<reports>/fleet.html).
    type: path
  sites:
    description:
      - The sites to show first, in this order, also those without any report yet; every other
        folder of O(reports) follows.
    type: list
    elements: str
    default: []
  unreachable:
    description:
      - The sites that this playbook run could not reach; each is marked C(unreachable) on the
        page, its data being from before. Without it (null), the page does not say which sites
        were reached.
    type: list
    elements: str
  target_version:
    description:
      - The version every unit should run. Without it, each site's is the target version of its
        last update report (when that names one).
    type: str
notes:
  - Supports check mode.
  - Whatever a kept report holds, it is shown or named, with the reason, in its site's notes
    and in the returned problems.
author:
  - KQVorlink developers (!UNKNOWN)
"""

EXAMPLES = r"""
- name: Write the fleet page
  kqvorlink.fleet.kqvorlink_fleet_page:
    reports: "{{ playbook_dir }}/reports"
    sites: "{{ ansible_play_hosts_all }}"
    target_version: KQ-A2.01.02.12
  delegate_to: localhost
  run_once: true
  register: fleet_page
"""

RETURN = r"""
page:
  description: The page's path.
  returned: always
  type: str
  sample: /srv/ansible/reports/fleet.html
bytes:
  description: The page's size.
  returned: always
  type: int
counts:
  description: The fleet's counts as the page shows them.
  returned: always
  type: dict
  sample: {sites: 3, units: 48, on_target: 45, off_target: 2, failed: 1, no_answer: 1}
set_marks:
  description:
    - The sites whose last update sent another set than the fleet's newest for its model
      (C(other_set)), an unsigned set (C(unsigned)) or a downgrade (C(downgrade)), counted.
  returned: always
  type: dict
  sample: {other_set: 1, unsigned: 1, downgrade: 0}
problems:
  description: Kept reports that could not be shown, and why.
  returned: always
  type: list
  elements: str
"""

import gc
import os
import re
import tempfile
from datetime import datetime

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_fleet import read_fleet
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_page_html import render


# When the page was written: not a change of what it shows.
WRITTEN_AT = re.compile(rb'<p id="written">Written at [^<]*? from')


def same_content(path, data):
    """Whether the page at `path` shows what `data` does (when each was written aside)."""
    try:
        with open(path, "rb") as f:
            old = f.read(len(data) + 1024)
    except OSError:
        return False
    return WRITTEN_AT.sub(b"", old, 1) == WRITTEN_AT.sub(b"", data, 1)


def write_whole(module, path, data):
    """Replaces the page in one step: a browser or web server never reads half of it."""
    folder = os.path.dirname(os.path.abspath(path))
    try:
        fd, temp = tempfile.mkstemp(prefix=".fleet-page.", dir=folder)
    except OSError as e:
        module.fail_json(msg="the page cannot be written in %s: %s" % (folder, e))
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.chmod(temp, 0o644)
        os.replace(temp, path)
    except OSError as e:
        try:
            os.unlink(temp)
        except OSError:
            pass
        module.fail_json(msg="the page cannot be written to %s: %s" % (path, e))


ARGUMENT_SPEC = dict(
    reports=dict(type="path", required=True),
    dest=dict(type="path"),
    sites=dict(type="list", elements="str", default=[]),
    unreachable=dict(type="list", elements="str"),
    target_version=dict(type="str"),
)


def main():
    module = AnsibleModule(argument_spec=ARGUMENT_SPEC, supports_check_mode=True)
    p = module.params
    if not os.path.isdir(p["reports"]):
        module.fail_json(msg="the reports folder %s does not exist" % p["reports"])
    dest = p["dest"] or os.path.join(p["reports"], "fleet.html")
    # The reports make millions of objects that live until the page is written, none of them in
    # a cycle: the collector's passes over them would cost more than the reading itself.
    gc.disable()
    fleet = read_fleet(p["reports"], p["sites"], p["target_version"], p["unreachable"])
    data = render(fleet, datetime.now().astimezone()).encode("utf-8")
    changed = not same_content(dest, data)
    if not module.check_mode:
        write_whole(module, dest, data)
    c = fleet["counts"]
    module.exit_json(changed=changed, page=dest, bytes=len(data),
                     counts={k: c[k] for k in ("sites", "units", "on_target", "off_target",
                                               "failed", "no_answer")},
                     set_marks=c["sets"],
                     problems=[q for s in fleet["sites"] for q in s.problems])


if __name__ == "__main__":
    main()
