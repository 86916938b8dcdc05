#!/usr/bin/env python3
"""Checks JSON Lines written by nodrix --json for what loaders rely on.

    check_json_lines.py [--schema FILE] [--report] FILE.jsonl...

Every line must parse, no object may hold a key twice, every key path
(e.g. "tcp.options[].kind") must have one JSON type across all the lines of
all the files, and, with --schema, every line must be valid against the
schema. Exits 1 and names the faults otherwise; --report also prints the
number of lines and of distinct key paths.
"""

import argparse
import json
import sys


def type_of(value):
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, int):
        return "integer"
    if isinstance(value, float):
        return "number"
    if isinstance(value, str):
        return "string"
    if value is None:
        return "null"
    return "array" if isinstance(value, list) else "object"


class DuplicateKey(ValueError):
    pass


def no_duplicates(pairs):
    seen = {}
    for key, value in pairs:
        if key in seen:
            raise DuplicateKey(key)
        seen[key] = value
    return seen


def walk(value, path, types):
    types.setdefault(path, {}).setdefault(type_of(value), 0)
    types[path][type_of(value)] += 1
    if isinstance(value, dict):
        for key, member in value.items():
            walk(member, path + "." + key if path else key, types)
    elif isinstance(value, list):
        for element in value:
            walk(element, path + "[]", types)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--schema")
    parser.add_argument("--report", action="store_true")
    parser.add_argument("files", nargs="+")
    options = parser.parse_args()
    validator = None
    if options.schema:
        import jsonschema

        with open(options.schema, encoding="utf-8") as f:
            schema = json.load(f)
        validator = jsonschema.validators.validator_for(schema)(schema)
    types, faults, lines = {}, [], 0
    for name in options.files:
        with open(name, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                where = "%s:%d" % (name, number)
                try:
                    value = json.loads(line, object_pairs_hook=no_duplicates)
                except DuplicateKey as e:
                    faults.append("%s: duplicate key %s" % (where, e))
                    continue
                except ValueError as e:
                    faults.append("%s: not JSON (%s)" % (where, e))
                    continue
                lines += 1
                walk(value, "", types)
                if validator:
                    for error in validator.iter_errors(value):
                        path = ".".join(str(p) for p in error.absolute_path)
                        faults.append("%s: %s: %s" % (where, path, error.message[:200]))
    for path, seen in sorted(types.items()):
        if len(seen) > 1:
            faults.append("key path %s has %s" % (path or "(line)", ", ".join("%s (%d)" % t for t in sorted(seen.items()))))
    for fault in faults[:200]:
        print(fault)
    if options.report:
        print("%d lines, %d key paths, %d faults" % (lines, len(types), len(faults)))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
