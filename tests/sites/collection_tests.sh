#!/usr/bin/env bash
# The Ansible collection's tests: the module's unit tests (pytest, against the kqvorlink-cli and
# kqunit of a native build, in a network namespace of their own), the sanity tests that run
# offline, and validate-modules as its script (ansible-test would install its requirements from
# the network first), with the collection's ignore file. Each test counts; ends "N passed, M failed".
#   bash tests/sites/collection_tests.sh [build/native]
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/native}" && pwd)"
cd "$ROOT/ansible/ansible_collections/kqvorlink/fleet" || exit 1
OFFLINE=(compile shebang use-argspec-type-path no-get-exception future-import-boilerplate
    metaclass-boilerplate no-assert no-basestring no-dict-iteritems no-dict-iterkeys
    no-dict-itervalues no-main-display no-smart-quotes no-unicode-literals line-endings empty-init
    symlinks no-illegal-filenames replace-urlopen use-compat-six action-plugin-docs ignores)

out=$(KQ_BUILD="$BUILD" timeout 300 unshare -n sh -c 'ip link set lo up && exec "$@"' sh \
    /usr/bin/python3 -m pytest -p no:cacheprovider -q tests/unit 2>&1)
echo "$out"
count() { tail -1 <<<"$out" | grep -oE "[0-9]+ ($1)" | awk '{ s += $1 } END { print s + 0 }'; }
passed=$(count passed)
failed=$(($(count 'failed|errors?') + (passed == 0)))

out=$(timeout 300 ansible-test sanity --python 3.11 "${OFFLINE[@]/#/--test=}" 2>&1)
echo "$out"
bad=$(($(grep -cE '^ERROR: Found [0-9]+ .* issue' <<<"$out") +
    ($(grep -c '^Running sanity test' <<<"$out") != ${#OFFLINE[@]})))
passed=$((passed + ${#OFFLINE[@]} - bad))
failed=$((failed + bad))

echo 'Running sanity test "validate-modules" (its script)'
PYTHONPATH="$ROOT/ansible" timeout 300 /usr/bin/python3 \
    /usr/lib/python3/dist-packages/ansible_test/_util/controller/sanity/validate-modules/validate.py \
    --format json --arg-spec --collection ansible_collections/kqvorlink/fleet \
    --collection-version "$(sed -n 's/^version: //p' galaxy.yml)" plugins/modules/*.py |
    /usr/bin/python3 -c '
import json, sys
ignored = {tuple(line.split()[:2]) for line in open("tests/sanity/ignore-2.14.txt")}
errors = [(path, "validate-modules:" + e["code"], e["msg"])
          for path, found in json.load(sys.stdin).items() for e in found["errors"]]
errors = [e for e in errors if e[:2] not in ignored]
print("".join("ERROR: %s %s: %s\n" % e for e in errors), end="")
sys.exit(bool(errors))'
status=${PIPESTATUS[1]}
passed=$((passed + (status == 0)))
failed=$((failed + (status != 0)))
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
