#!/bin/sh
# What help2man reads for a program with commands: its --version, and for --help its own help
# followed by each command's options under a heading of their own, so that every command's
# options reach the manual page.
#   command_help.sh PROGRAM [COMMAND...] --help|--version
program="$1"
shift
commands=""
while [ $# -gt 1 ]; do
    commands="$commands $1"
    shift
done
[ "$1" = --help ] || exec "$program" "$1"
"$program" --help || exit 1
for command in $commands; do
    printf '\n%s command:\n' "$command"
    # The command's own help without its headings: a paragraph per entry (an option whose text
    # is on the next line keeps it).
    "$program" "$command" --help |
        sed -e '/^[A-Z][a-z]*:$/d' -e '/^$/d' -e 's/^\([^ ]\)/  \1/' -e '1!{/^  [^ ]/{x;p;x}}' ||
        exit 1
done
