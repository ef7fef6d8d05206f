#!/usr/bin/python3
"""Validates a kqvorlink-cli JSON report against its schema: validate_report.py SCHEMA REPORT.
SCHEMA is a schema file, or the folder docs/schema: then the report's own kind and schema number
choose the file (KIND-report-N.schema.json for an older N, else KIND-report.schema.json).
Exit 0 when valid, 1 with the first error when not, 2 when a file cannot be read."""
import json
import os
import sys

import jsonschema


def main(argv):
    if len(argv) != 3:
        print("usage: validate_report.py SCHEMA REPORT", file=sys.stderr)
        return 2
    try:
        with open(argv[2], encoding="utf-8") as f:
            report = json.load(f)
        path = argv[1]
        if os.path.isdir(path):
            head = report if isinstance(report, dict) else {}
            kind = f"{head.get('report')}-report"
            older = os.path.join(path, f"{kind}-{head.get('schema')}.schema.json")
            path = older if os.path.exists(older) else os.path.join(path, f"{kind}.schema.json")
        with open(path, encoding="utf-8") as f:
            schema = json.load(f)
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
