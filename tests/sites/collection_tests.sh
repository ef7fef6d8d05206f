#!/usr/bin/env bash
# The Ansible collection's own tests: the module's unit tests (pytest, against the real
# kqvorlink-cli and kqunit of a native build, in a network namespace of their own) and the
# sanity tests of ansible-test that run offline. Every sanity test and every unit test counts
# as one; ends with "N passed, M failed".
#
#   bash tests/sites/collection_tests.sh build/native
#
# validate-modules runs as its script: ansible-test would first install its requirements from
# the network. The collection's tests/sanity/ignore-2.14.txt is applied to it all the same.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/native}" && pwd)"
COLLECTION="$ROOT/ansible/ansible_collections/kqvorlink/fleet"
OFFLINE="compile shebang use-argspec-type-path no-get-exception future-import-boilerplate
metaclass-boilerplate no-assert no-basestring no-dict-iteritems no-dict-iterkeys
no-dict-itervalues no-main-display no-smart-quotes no-unicode-literals line-endings empty-init
symlinks no-illegal-filenames replace-urlopen use-compat-six action-plugin-docs ignores"
passed=0
failed=0

out=$(KQ_BUILD="$BUILD" timeout 300 unshare -n sh -c 'ip link set lo up && exec "$@"' sh \
    /usr/bin/python3 -m pytest -p no:cacheprovider -q "$COLLECTION/tests/unit" 2>&1)
echo "$out"
summary=$(tail -1 <<<"$out")
count() { grep -oE "[0-9]+ ($1)" <<<"$summary" | awk '{ s += $1 } END { print s + 0 }'; }
passed=$((passed + $(count passed)))
failed=$((failed + $(count 'failed|errors?')))
grep -qE '[0-9]+ passed' <<<"$summary" || failed=$((failed + 1))

cd "$COLLECTION" || exit 1
# shellcheck disable=SC2046
out=$(timeout 300 ansible-test sanity --python 3.11 $(printf -- '--test %s ' $OFFLINE) 2>&1)
echo "$out"
ran=$(grep -c '^Running sanity test' <<<"$out")
bad=$(grep -cE '^ERROR: Found [0-9]+ .* issue' <<<"$out")
[ "$ran" -eq "$(wc -w <<<"$OFFLINE")" ] || bad=$((bad + 1))
passed=$((passed + ran - bad))
failed=$((failed + bad))

echo 'Running sanity test "validate-modules" (its script)'
found=$(mktemp)
trap 'rm -f "$found"' EXIT
PYTHONPATH="$ROOT/ansible" timeout 300 /usr/bin/python3 \
    /usr/lib/python3/dist-packages/ansible_test/_util/controller/sanity/validate-modules/validate.py \
    --format json --arg-spec --collection ansible_collections/kqvorlink/fleet \
    --collection-version "$(sed -n 's/^version: //p' galaxy.yml)" plugins/modules/*.py \
    >"$found"
if /usr/bin/python3 - "$found" tests/sanity/ignore-2.14.txt <<'EOF'; then
import json, sys
ignored = {tuple(line.split()[:2]) for line in open(sys.argv[2]) if line.strip()}
found = [(path, "validate-modules:" + e["code"], e["msg"])
         for path, got in json.load(open(sys.argv[1])).items() for e in got["errors"]]
for path, code, msg in found:
    if (path, code) not in ignored:
        print("ERROR: %s: %s: %s" % (path, code, msg))
sys.exit(any((p, c) not in ignored for p, c, _ in found))
EOF
    passed=$((passed + 1))
else
    failed=$((failed + 1))
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
