#!/usr/bin/env python3
"""The admin guide against the settings table (common/setting_table.def): its table of settings names
every setting and the record and nothing else; the first values it lists, the values removal
keeps and deletes, and the policies' ranges are the table's.

    check_readme_settings.py ADMIN_GUIDE TABLE
"""
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
from setting_table import read_table  # noqa: E402

NAME = r"`([A-Za-z][A-Za-z0-9]*)`"
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def section(text, title):
    """The text under a heading, up to the next heading of its level or above."""
    match = re.search(r"^(#+) " + re.escape(title) + r"\n", text, re.M)
    if not match:
        failures.append("no section " + title)
        return ""
    end = re.search(r"^#{1,%d} " % len(match.group(1)), text[match.end():], re.M)
    return text[match.end():match.end() + end.start() if end else len(text)]


def paragraph(text, start):
    """The paragraph that begins with `start`, joined into one line."""
    at = text.find(start)
    if at < 0:
        failures.append("no paragraph beginning " + start)
        return ""
    return " ".join(text[at:].split("\n\n")[0].split())


def main():
    with open(sys.argv[1], encoding="utf-8") as readme:
        text = readme.read()
    facts = read_table(sys.argv[2])
    settings = [fact for fact in facts if fact.kind == "Setting"]

    rows = re.findall(r"^\| " + NAME + r" \|", section(text, "Settings reference"), re.M)
    named = [fact.name for fact in facts if fact.kind != "Saved"]
    check(sorted(rows) == sorted(named), "the settings table names %s, the table %s" % (sorted(rows), sorted(named)))

    firsts = re.findall(NAME + r" (\d+)", paragraph(text, "First values:"))
    expected = [(fact.name, str(fact.first)) for fact in settings if fact.first is not None]
    check(sorted(firsts) == sorted(expected), "first values %s, the table's %s" % (sorted(firsts), sorted(expected)))

    removal = paragraph(section(text, "Removing Kalnix"), "When the saved lid-close settings cannot be put back")
    kept, _, deleted = removal.partition("removing only")
    check(sorted(re.findall(NAME, kept)) == sorted(fact.name for fact in facts if not fact.deleted_at_removal),
          "the values kept at removal: %s" % re.findall(NAME, kept))
    check(sorted(re.findall(NAME, deleted)) == sorted(fact.name for fact in facts if fact.deleted_at_removal),
          "the values deleted at removal: %s" % re.findall(NAME, deleted))

    ranges = re.findall(r"\(" + NAME + r", (\d+)–(\d+)", section(text, "Group Policy"))
    numbers = {fact.name: (str(fact.least), str(fact.most)) for fact in settings if fact.form == "Number"}
    check({name: (low, high) for name, low, high in ranges} == numbers, "the policies' ranges: %s" % ranges)

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
