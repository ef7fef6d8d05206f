#!/usr/bin/env bash
# The collection's unit tests (against BUILD's programs, default build/native), its offline
# sanity tests, and validate-modules as its script (ansible-test would fetch its requirements
# first) with the collection's ignore file; each counts. Ends "N passed, M failed".
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="$(cd "${1:-$ROOT/build/native}" && pwd)"
cd "$ROOT/ansible/ansible_collections/kqvorlink/fleet" || exit 1
OFFLINE=(compile shebang use-argspec-type-path no-get-exception future-import-boilerplate
    metaclass-boilerplate no-assert no-basestring no-dict-iteritems no-dict-iterkeys
    no-dict-itervalues no-main-display no-smart-quotes no-unicode-literals line-endings empty-init
    symlinks no-illegal-filenames replace-urlopen use-compat-six action-plugin-docs ignores)
unit=$(KQ_BUILD="$BUILD" timeout 300 unshare -n sh -c 'ip link set lo up && exec "$@"' sh \
    /usr/bin/python3 -m pytest -p no:cacheprovider -q tests/unit 2>&1)
sanity=$(timeout 300 ansible-test sanity --python 3.11 "${OFFLINE[@]/#/--test=}" 2>&1)
vm=$(PYTHONPATH="$ROOT/ansible" timeout 300 /usr/bin/python3 \
    /usr/lib/python3/dist-packages/ansible_test/_util/controller/sanity/validate-modules/validate.py \
    --format plain --arg-spec --collection ansible_collections/kqvorlink/fleet --collection-version \
    "$(sed -n 's/^version: //p' galaxy.yml)" plugins/modules/*.py 2>&1; echo "exit status $?")
ignored=$(sed -nE 's/^(\S+) validate-modules:(\S+).*/^\1:[0-9]+:[0-9]+: E\2 /p' \
    tests/sanity/ignore-2.14.txt | paste -sd'|')
vm=$(grep -vE "$ignored|^exit status [03]$" <<<"$vm")
printf '%s\n%s\nvalidate-modules (its script): %s\n' "$unit" "$sanity" "${vm:-ok}"
count() { tail -1 <<<"$unit" | grep -oE "[0-9]+ ($1)" | awk '{ s += $1 } END { print s + 0 }'; }
bad=$(($(grep -cE '^ERROR: Found [0-9]+ .* issue' <<<"$sanity") +
    ($(grep -c '^Running sanity test' <<<"$sanity") != ${#OFFLINE[@]})))
passed=$(($(count passed) + ${#OFFLINE[@]} - bad + (${#vm} == 0)))
failed=$(($(count 'failed|errors?') + ($(count passed) == 0) + bad + (${#vm} > 0)))
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
