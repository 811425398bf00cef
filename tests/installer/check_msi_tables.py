#!/usr/bin/env python3
"""Reads a Windows Installer package's tables back with msiinfo (msitools) and checks what the
README promises of it, where no ICE validation runs on Linux: the architecture, the product and
upgrade codes, 64-bit components in the x64 package, the secure properties, the upgrade table
and the refused downgrade, the custom actions' kinds and their order, and the library inside.

    check_msi_tables.py ARCH PACKAGE PRODUCT_CODE UPGRADE_CODE VERSION KALNIXCA_DLL
"""
import os
import subprocess
import sys
import tempfile

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def table(package, name):
    """Rows of a table as lists of strings (msiinfo export: names, types, key line, rows)."""
    text = subprocess.run(["msiinfo", "export", package, name], check=True, capture_output=True).stdout
    return [line.split("\t") for line in text.decode("utf-8").splitlines()[3:]]


def main():
    arch, package, product_code, upgrade_code, version, library = sys.argv[1:7]
    x64 = arch == "x64"
    summary = subprocess.run(["msiinfo", "suminfo", package], check=True, capture_output=True).stdout.decode()
    check("Template: %s;1033" % ("x64" if x64 else "Intel") in summary, "platform of the summary: %s" % summary)

    properties = {row[0]: row[1] for row in table(package, "Property")}
    check(properties.get("ProductCode") == "{%s}" % product_code, "ProductCode %s" % properties.get("ProductCode"))
    check(properties.get("UpgradeCode") == "{%s}" % upgrade_code, "UpgradeCode %s" % properties.get("UpgradeCode"))
    check(properties.get("ProductVersion") == version, "ProductVersion %s" % properties.get("ProductVersion"))
    check(properties.get("ALLUSERS") == "1", "per-machine (ALLUSERS 1)")
    # Windows Installer's own top-level action: a package property of that name would break msiexec.
    check("ACTION" not in properties, "no ACTION property")
    secure = set(properties.get("SecureCustomProperties", "").split(";"))
    for name in ("MODE", "ALARMTIME", "INSTALLFOLDER", "WIX_UPGRADE_DETECTED", "WIX_DOWNGRADE_DETECTED"):
        check(name in secure, "%s is a secure property" % name)

    for component in table(package, "Component"):
        check(bool(int(component[3]) & 256) == x64, "component %s: 64-bit only in the x64 package" % component[0])
    directories = {row[0]: row[1] for row in table(package, "Directory")}
    check(directories.get("INSTALLFOLDER") == ("ProgramFiles64Folder" if x64 else "ProgramFilesFolder"),
          "INSTALLFOLDER in the architecture's Program Files: %s" % directories.get("INSTALLFOLDER"))

    upgrades = {row[6]: row for row in table(package, "Upgrade")}
    later, earlier = upgrades.get("WIX_DOWNGRADE_DETECTED"), upgrades.get("WIX_UPGRADE_DETECTED")
    check(earlier and earlier[0] == "{%s}" % upgrade_code and earlier[2] == version and not int(earlier[4]) & 2,
          "earlier versions below %s are removed: %s" % (version, earlier))
    check(later and later[1] == version and int(later[4]) & 2, "later versions are only detected: %s" % later)
    conditions = {row[0]: row[1] for row in table(package, "LaunchCondition")}
    check("newer version of Kalnix" in conditions.get("NOT WIX_DOWNGRADE_DETECTED", ""), "downgrade refused")
    check(("VersionNT64" if x64 else "NOT VersionNT64") in conditions, "the architecture's Windows only")

    # 1 DLL; +1024 deferred; +256 rollback, +512 commit; +2048 as SYSTEM.
    kinds = {"PlanKalnixPackage": 1, "StopKalnix": 3073, "RemoveKalnixStart": 3073, "SecureKalnixFolder": 3073,
             "WriteKalnixSettings": 3073, "RegisterKalnixStart": 3073, "RegisterKalnixEvents": 3073,
             "RestoreKalnixStart": 3329, "UndoKalnixFolder": 3329, "UndoKalnixSettings": 3329,
             "UndoKalnixStart": 3329, "UndoKalnixEvents": 3329, "RemoveKalnixSettings": 3585,
             "CompleteKalnixTakeOver": 3585, "StartKalnixForUser": 3585}
    actions = {row[0]: row for row in table(package, "CustomAction")}
    check(set(actions) == set(kinds), "custom actions: %s" % sorted(actions))
    for name, kind in kinds.items():
        row = actions.get(name, ["", "0", "", ""])
        check(int(row[1]) == kind, "%s is of type %s, not %s" % (name, row[1], kind))
        check(row[3] == (name if x64 else "_%s@4" % name), "%s calls %s" % (name, row[3]))

    sequence = {row[0]: (int(row[2]), row[1]) for row in table(package, "InstallExecuteSequence")}
    order = ["FindRelatedProducts", "LaunchConditions", "PlanKalnixPackage", "InstallInitialize",
             "RemoveExistingProducts", "StopKalnix", "RemoveKalnixStart", "SecureKalnixFolder", "WriteKalnixSettings",
             "RemoveFiles", "InstallFiles", "RegisterKalnixStart", "RegisterKalnixEvents", "RemoveKalnixSettings",
             "CompleteKalnixTakeOver", "StartKalnixForUser", "RegisterProduct", "InstallFinalize"]
    numbers = [sequence.get(name, (-1, ""))[0] for name in order]
    check(numbers == sorted(numbers) and -1 not in numbers, "sequence order: %s" % list(zip(order, numbers)))
    undone = {"RestoreKalnixStart": "RemoveKalnixStart", "UndoKalnixFolder": "SecureKalnixFolder",
              "UndoKalnixSettings": "WriteKalnixSettings", "UndoKalnixStart": "RegisterKalnixStart",
              "UndoKalnixEvents": "RegisterKalnixEvents"}
    for rollback, action in undone.items():
        check(sequence.get(rollback, (0, ""))[0] + 1 == sequence.get(action, (0, ""))[0],
              "%s stands right before %s" % (rollback, action))
    for name in ("RestoreKalnixStart", "RemoveKalnixStart", "RemoveKalnixSettings"):
        check(sequence[name][1] == 'REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE', "%s: %s" % (name, sequence[name][1]))
    for name in ("SecureKalnixFolder", "WriteKalnixSettings", "RegisterKalnixStart", "StartKalnixForUser"):
        check(sequence[name][1] == "NOT REMOVE", "%s: %s" % (name, sequence[name][1]))

    files = {row[2] for row in table(package, "File")}
    check(files == {"Kalnix.exe"}, "files: %s" % files)
    removed = {row[2]: int(row[4]) for row in table(package, "RemoveFile")}
    check(removed == {"Uninstall.exe": 3, "Kalnix.log": 2, "KalnixSetup.log": 2, "KalnixTask.xml": 2},
          "files removed with Kalnix.exe: %s" % removed)
    with tempfile.TemporaryDirectory() as scratch:
        extracted = os.path.join(scratch, "KalnixCA.dll")
        with open(extracted, "wb") as out:
            subprocess.run(["msiinfo", "extract", package, "Binary.KalnixCA"], check=True, stdout=out)
        with open(extracted, "rb") as a, open(library, "rb") as b:
            check(a.read() == b.read(), "the package carries %s" % library)

    for failure in failures:
        print("FAIL: %s: %s" % (package, failure))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
