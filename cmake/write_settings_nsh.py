#!/usr/bin/env python3
"""Writes the setup program's include of the settings table: the options' variables and ranges,
the first values, and the values removal deletes.

    write_settings_nsh.py TABLE OUTPUT

The output is rewritten only when its text changes, so that an unchanged table starts no new
build of the setup program."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from setting_table import read_table  # noqa: E402


def option_lines(facts):
    lines = ["; The setup program's options: the value given for each (\"\" when none) and the range",
             "; it must lie in."]
    for fact in facts:
        if fact.option:
            lines += ["Var Option_%s  ; /%s= sets %s" % (fact.option, fact.option, fact.name),
                      "!define OPTION_%s_LEAST %d" % (fact.option, fact.least),
                      "!define OPTION_%s_MOST %d" % (fact.option, fact.most)]
    return lines


def first_value_lines(facts):
    lines = ["; Writes each setting's first value through SetFirstValue ($1 name, $2 value, $3 1 to",
             "; write over a value already there): an option given on the command line always is.",
             "!macro WriteFirstValues"]
    for fact in facts:
        if fact.first is None:
            continue
        lines.append('  StrCpy $1 "%s"' % fact.name)
        if fact.option:
            lines += ['  ${If} $Option_%s != ""' % fact.option,
                      "    StrCpy $2 $Option_%s" % fact.option,
                      "    StrCpy $3 1",
                      "  ${Else}",
                      "    StrCpy $2 %d" % fact.first,
                      "    StrCpy $3 0",
                      "  ${EndIf}"]
        else:
            lines += ["  StrCpy $2 %d" % fact.first, "  StrCpy $3 0"]
        lines.append("  Call SetFirstValue")
    return lines + ["!macroend"]


def removal_lines(facts):
    lines = ["; Deletes Kalnix's own values, its settings and its record, and leaves the user's saved ones.",
             "!macro DeleteOwnValues"]
    for fact in facts:
        if fact.deleted_at_removal:
            lines.append('  DeleteRegValue HKLM "${SETTINGS_KEY}" "%s"' % fact.name)
    return lines + ["!macroend"]


def main():
    table, output = sys.argv[1:3]
    facts = read_table(table)
    lines = ["; Generated from common/setting_table.def by cmake/write_settings_nsh.py at build time.", ""]
    lines += option_lines(facts) + [""] + first_value_lines(facts) + [""] + removal_lines(facts)
    text = "\n".join(lines) + "\n"
    if os.path.exists(output):
        with open(output, encoding="utf-8", newline="") as current:
            if current.read() == text:
                return 0
    os.makedirs(os.path.dirname(os.path.abspath(output)), exist_ok=True)
    with open(output, "w", encoding="utf-8", newline="") as out:
        out.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
