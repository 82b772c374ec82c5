#!/usr/bin/env python3
"""Validates the JSON documents the companion's tests saved against the
published schema of vtx_bridge --json.

    validate_json.py [--all-invalid] SCHEMA DIRECTORY

Every *.json file in DIRECTORY must be valid against SCHEMA, and every key it
uses must be one the schema names: the schema lets readers meet new keys, but
a key the program writes and the schema does not describe is a fault here.
An empty DIRECTORY fails too: the tests saved nothing, so nothing was checked.
With --all-invalid every file must be refused instead: a schema that lets
these damaged documents through checks nothing.
"""
import json
import pathlib
import sys

import jsonschema


def schema_keys(node, keys):
    if isinstance(node, dict):
        keys.update(node.get("properties", {}).keys())
        for value in node.values():
            schema_keys(value, keys)
    elif isinstance(node, list):
        for value in node:
            schema_keys(value, keys)
    return keys


def unknown_keys(document, known, where="$"):
    if isinstance(document, dict):
        for key, value in document.items():
            if key not in known:
                yield f"{where}: key {key!r} is not in the schema"
            yield from unknown_keys(value, known, f"{where}.{key}")
    elif isinstance(document, list):
        for index, value in enumerate(document):
            yield from unknown_keys(value, known, f"{where}[{index}]")


def main():
    args = sys.argv[1:]
    all_invalid = args[:1] == ["--all-invalid"]
    args = args[1:] if all_invalid else args
    if len(args) != 2:
        sys.exit(__doc__)
    schema = json.loads(pathlib.Path(args[0]).read_text(encoding="utf-8"))
    jsonschema.Draft7Validator.check_schema(schema)
    validator = jsonschema.Draft7Validator(schema)
    known = schema_keys(schema, set())
    paths = sorted(pathlib.Path(args[1]).glob("*.json"))
    if not paths:
        sys.exit(f"no JSON documents in {args[1]}")
    faults = 0
    for path in paths:
        document = json.loads(path.read_text(encoding="utf-8"))
        errors = [f"{'/'.join(map(str, e.absolute_path)) or '$'}: {e.message[:300]}"
                  for e in validator.iter_errors(document)]
        errors += unknown_keys(document, known)
        if all_invalid and not errors:
            print(f"{path.name}: valid, but it is damaged")
        for error in [] if all_invalid else errors:
            print(f"{path.name}: {error}")
        faults += bool(errors) != all_invalid
    print(f"{len(paths)} documents, {faults} judged wrongly")
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
