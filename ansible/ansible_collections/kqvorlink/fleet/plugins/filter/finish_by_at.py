# -*- coding: utf-8 -*-
# The end of a maintenance window fixed on the controller, so that every site of a playbook run
# is handed the same moment, however late its batch comes.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
name: finish_by_at
short_description: The moment a maintenance window given as a clock time ends
version_added: "1.2.0"
description:
  - A clock time C(HH:MM) becomes the ISO 8601 date, time and offset of its occurrence nearest
    to I(began), before or after it (of two twelve hours away, the later one), in the
    controller's local time. Anything else (an ISO 8601 date and time) is returned as it is.
positional: began
options:
  _input:
    description: The window's end, as kqvorlink_finish_by takes it.
    type: str
    required: true
  began:
    description: The moment the clock time is resolved against, an ISO 8601 date and time with
      C(Z) or an offset (the site role takes the start of the playbook run).
    type: str
    required: true
"""

EXAMPLES = r"""
# 2026-12-08T06:00:00+01:00 when the run began at 2026-12-08T05:50:00Z in Berlin
finish_by: "{{ '06:00' | kqvorlink.fleet.finish_by_at('2026-12-08T05:50:00Z') }}"
"""

RETURN = r"""
_value:
  description: The window's end as a date, time and offset, or the input when it was no clock time.
  type: str
"""

from ansible.errors import AnsibleFilterError
from ansible_collections.kqvorlink.fleet.plugins.module_utils.kqvorlink_rollout import (
    finish_by_moment, resolved_finish_by)


def finish_by_at(text, began):
    moment, why = finish_by_moment(str(began), 0)
    if why:
        raise AnsibleFilterError("finish_by_at: the start of the run %s" % why)
    return resolved_finish_by(text, moment)


class FilterModule(object):
    def filters(self):
        return {"finish_by_at": finish_by_at}
