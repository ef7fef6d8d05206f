#!/usr/bin/python3
"""Validates a kqvorlink-cli JSON report against its schema: validate_report.py SCHEMA REPORT.
Exit 0 when valid, 1 with the first error when not, 2 when a file cannot be read."""
import json
import sys

import jsonschema


def main(argv):
    if len(argv) != 3:
        print("usage: validate_report.py SCHEMA REPORT", file=sys.stderr)
        return 2
    try:
        with open(argv[1], encoding="utf-8") as f:
            schema = json.load(f)
        with open(argv[2], encoding="utf-8") as f:
            report = json.load(f)
    except (OSError, ValueError) as error:
        print(f"validate_report: {error}", file=sys.stderr)
        return 2
    jsonschema.Draft7Validator.check_schema(schema)
    errors = sorted(jsonschema.Draft7Validator(schema).iter_errors(report), key=str)
    if errors:
        print(f"validate_report: {argv[2]}: {errors[0].message} at "
              f"{'/'.join(map(str, errors[0].absolute_path))}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
