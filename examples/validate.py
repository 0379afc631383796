#!/usr/bin/python3
"""Checks payload lines against payload.schema.json, one mistake a line.

    validate.py                 # every examples/*.jsonl
    validate.py FILE.jsonl...   # or - for standard input

Exits 1 when a line breaks the schema. Needs python3-jsonschema (4.x).
"""
import json
import sys
from pathlib import Path

from jsonschema import Draft202012Validator

EXAMPLES = Path(__file__).resolve().parent
SCHEMA = json.loads((EXAMPLES / "payload.schema.json").read_text(encoding="utf-8"))


def refuse(constant):
    raise ValueError(f"{constant} is not JSON")


def mistakes(name, text):
    validator = Draft202012Validator(SCHEMA)
    for number, line in enumerate(text.splitlines(), 1):
        if not line.strip():
            continue
        try:
            payload = json.loads(line, parse_constant=refuse)
        except ValueError as error:
            yield f"{name}:{number}: not JSON: {error}"
            continue
        for error in validator.iter_errors(payload):
            where = "/".join(str(step) for step in error.absolute_path) or "(line)"
            yield f"{name}:{number}: {where}: {error.message}"


def main(files):
    found = 0
    for file in files or sorted(str(path) for path in EXAMPLES.glob("*.jsonl")):
        text = sys.stdin.read() if file == "-" else Path(file).read_text(encoding="utf-8")
        for mistake in mistakes(file, text):
            print(mistake)
            found += 1
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
