#!/usr/bin/env python3
"""The include the setup program was built with (argument 1) says what the settings table
(argument 2) says: each setting's first value and the option that overrides it, the options'
ranges, and the values removal deletes. A build that missed a change of the table, or a writer
that drops an entry, would install or remove other values than Kalnix.exe and the package.

    check_settings_nsh.py INCLUDE TABLE
"""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
from setting_table import read_table  # noqa: E402


def macro(text, name):
    match = re.search(r"^!macro %s\n(.*?)^!macroend$" % name, text, re.M | re.S)
    return match.group(1) if match else ""


def main():
    with open(sys.argv[1], encoding="utf-8") as include:
        text = include.read()
    facts = read_table(sys.argv[2])
    failures = []

    # One block per setting: its name, the option that may override it, and its first value.
    blocks = re.findall(r'StrCpy \$1 "(\w+)"\n(.*?)Call SetFirstValue', macro(text, "WriteFirstValues"), re.S)
    written = {}
    for name, body in blocks:
        option = re.search(r"\$Option_(\w+) != \"\"", body)
        first = re.findall(r"StrCpy \$2 (\d+)\n\s*StrCpy \$3 0", body)
        written[name] = (option.group(1) if option else "", int(first[0]) if len(first) == 1 else None)
    expected = {fact.name: (fact.option, fact.first) for fact in facts if fact.first is not None}
    if written != expected:
        failures.append("first values %s, the table's %s" % (written, expected))

    ranges = dict(re.findall(r"^!define OPTION_(\w+) (\d+)$", text, re.M))
    options = {}
    for fact in facts:
        if fact.option:
            options["%s_LEAST" % fact.option], options["%s_MOST" % fact.option] = str(fact.least), str(fact.most)
    if ranges != options:
        failures.append("option ranges %s, the table's %s" % (ranges, options))

    deleted = re.findall(r'DeleteRegValue HKLM "\$\{SETTINGS_KEY\}" "(\w+)"', macro(text, "DeleteOwnValues"))
    if deleted != [fact.name for fact in facts if fact.deleted_at_removal]:
        failures.append("removal deletes %s" % deleted)

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
