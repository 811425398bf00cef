#!/usr/bin/env python3
"""Reads a Windows Installer package's tables back with msiinfo (msitools) and checks them against
what the package must do, written down below as requirements (never read from the package's
sources, but for the settings table, which owns the settings' facts), where no ICE validation runs
on Linux.

    check_msi_tables.py ARCH PACKAGE PRODUCT_CODE UPGRADE_CODE VERSION KALNIXCA_DLL KALNIX_EXE
                        SAME_PRODUCT_PACKAGE NEXT_PACKAGE SETTING_TABLE

SAME_PRODUCT_PACKAGE is a build of a version that differs from VERSION in the fourth field only,
NEXT_PACKAGE one of a later version. SETTING_TABLE is common/setting_table.def: the settings'
install options are the package's public properties. (The first values and the values removal
deletes are KalnixCA.dll's, which takes them from the same table; the package carries the built
library, checked below, and the msi tests see what it writes and removes.)
"""
import os
import re
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
from setting_table import read_table  # noqa: E402

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def table(package, name):
    """Rows of a table as lists of strings (msiinfo export: names, types, key line, rows)."""
    text = subprocess.run(["msiinfo", "export", package, name], check=True, capture_output=True).stdout
    return [line.split("\t") for line in text.decode("utf-8").splitlines()[3:]]


def properties_of(package):
    return {row[0]: row[1] for row in table(package, "Property")}


# Custom action types: 1 a DLL in the Binary table, 51 sets a property; +1024 in the script
# (deferred), +256 rollback, +512 commit; +2048 without impersonation (as SYSTEM).
IMMEDIATE, DEFERRED, ROLLBACK, SET_PROPERTY = 1, 1 + 1024 + 2048, 1 + 1024 + 256 + 2048, 51
INSTALLING = "NOT REMOVE"
REMOVING = 'REMOVE="ALL"'
# A removal by a newer package (UPGRADINGPRODUCTCODE) leaves the settings and the start at
# log-on to it.
REMOVING_FOR_GOOD = 'REMOVE="ALL" AND NOT UPGRADINGPRODUCTCODE'

# Every custom action the package has, what it is and when it runs. A rollback action names the
# deferred action it undoes, and stands right before it. Every change to the system is a
# deferred action that runs as SYSTEM and has a rollback action, but for ending a running
# Kalnix, which starts again at the next log-on. No commit action: Windows Installer skips those
# while rollback is disabled, and a removal would then succeed with Kalnix's settings left.
ACTIONS = {
    # Decides from the installation's own properties, changing nothing; REMOVE may say ALL only
    # from InstallValidate on.
    "PlanKalnixPackage": (IMMEDIATE, None, None),
    # Every run: the protection service is stopped (not at a repair) and started again by the
    # rollback, which does not start again at the next log-on.
    "StartKalnixServiceAgain": (ROLLBACK, None, "StopKalnixService"),
    "StopKalnixService": (DEFERRED, None, None),
    "StopKalnix": (DEFERRED, REMOVING, None),
    "RestoreKalnixStart": (ROLLBACK, REMOVING_FOR_GOOD, "RemoveKalnixStart"),
    "RemoveKalnixStart": (DEFERRED, REMOVING_FOR_GOOD, None),
    "PutBackKalnixService": (ROLLBACK, REMOVING_FOR_GOOD, "RemoveKalnixService"),
    "RemoveKalnixService": (DEFERRED, REMOVING_FOR_GOOD, None),
    "PutBackKalnixSettings": (ROLLBACK, REMOVING_FOR_GOOD, "RemoveKalnixSettings"),
    "RemoveKalnixSettings": (DEFERRED, REMOVING_FOR_GOOD, None),
    "UndoKalnixFolder": (ROLLBACK, INSTALLING, "SecureKalnixFolder"),
    "SecureKalnixFolder": (DEFERRED, INSTALLING, None),
    "UndoKalnixSettings": (ROLLBACK, INSTALLING, "WriteKalnixSettings"),
    "WriteKalnixSettings": (DEFERRED, INSTALLING, None),
    "UndoKalnixStart": (ROLLBACK, INSTALLING, "RegisterKalnixStart"),
    "RegisterKalnixStart": (DEFERRED, INSTALLING, None),
    "UndoKalnixEvents": (ROLLBACK, INSTALLING, "RegisterKalnixEvents"),
    "RegisterKalnixEvents": (DEFERRED, INSTALLING, None),
    "UndoKalnixService": (ROLLBACK, INSTALLING, "InstallKalnixService"),
    "InstallKalnixService": (DEFERRED, INSTALLING, None),
    "UndoKalnixTakeOver": (ROLLBACK, INSTALLING, "CompleteKalnixTakeOver"),
    "CompleteKalnixTakeOver": (DEFERRED, INSTALLING, None),
    "EndStartedKalnix": (ROLLBACK, INSTALLING, "StartKalnixForUser"),
    "StartKalnixForUser": (DEFERRED, INSTALLING, None),
}
# Where an upgrade or a repair installs: the folder the installed version's entry records, unless
# INSTALLFOLDER names another at an upgrade; and the entry records the folder.
SET_PROPERTIES = {
    "KeepKalnixFolder": ("INSTALLFOLDER", "[KALNIXINSTALLEDFOLDER]",
                         "KALNIXINSTALLEDFOLDER AND (Installed OR NOT INSTALLFOLDER)"),
    "RecordKalnixFolder": ("ARPINSTALLLOCATION", "[INSTALLFOLDER]", ""),
}
# The order that matters, as pairs (earlier, later).
ORDER = [
    ("FindRelatedProducts", "AppSearch"),          # the replaced version's product code first
    ("AppSearch", "KeepKalnixFolder"),
    ("KeepKalnixFolder", "CostInitialize"),         # before the folders are resolved
    ("CostFinalize", "RecordKalnixFolder"),
    ("RecordKalnixFolder", "RegisterProduct"),
    ("InstallValidate", "PlanKalnixPackage"),
    ("PlanKalnixPackage", "InstallInitialize"),
    ("InstallInitialize", "RemoveExistingProducts"),  # the earlier version goes inside this transaction
    ("RemoveExistingProducts", "StopKalnixService"),
    # The service stops through its own teardown, which puts the power settings back, before any
    # Kalnix.exe is ended (its process with them) or replaced.
    ("StopKalnixService", "StopKalnix"),
    ("StopKalnixService", "SecureKalnixFolder"),
    ("StopKalnixService", "RemoveFiles"),
    ("StopKalnixService", "InstallFiles"),
    ("RemoveExistingProducts", "StopKalnix"),
    ("StopKalnix", "RemoveKalnixStart"),            # nothing removed while a log-on entry is left
    ("RemoveKalnixStart", "RemoveKalnixSettings"),
    ("RemoveKalnixStart", "RemoveFiles"),
    ("RemoveKalnixService", "RemoveKalnixSettings"),  # the service gone before the settings are put back
    ("RemoveKalnixService", "RemoveFiles"),         # nothing removed while the service is left
    ("RemoveExistingProducts", "SecureKalnixFolder"),
    ("SecureKalnixFolder", "InstallFiles"),         # the folder checked before anything goes in
    ("WriteKalnixSettings", "InstallFiles"),        # the user's flags saved before Kalnix can run
    ("InstallFiles", "RegisterKalnixStart"),
    ("InstallFiles", "RegisterKalnixEvents"),
    # The service starts from the installed files, reading the settings and the saved flags, and
    # names its lid source in an event that has its message text.
    ("InstallFiles", "InstallKalnixService"),
    ("WriteKalnixSettings", "InstallKalnixService"),
    ("RegisterKalnixEvents", "InstallKalnixService"),
    ("InstallKalnixService", "CompleteKalnixTakeOver"),  # it runs from this folder before another's files go
    ("InstallKalnixService", "StartKalnixForUser"),  # which runs the task only where the service does not
    ("PublishProduct", "CompleteKalnixTakeOver"),   # the earlier installation goes once this one is whole
    ("CompleteKalnixTakeOver", "StartKalnixForUser"),
    ("StartKalnixForUser", "InstallFinalize"),
]
# Secure, so that a per-machine installation passes them on to its SYSTEM actions; the settings'
# options (MODE, ALARMTIME) come from the settings table.
SECURE_PROPERTIES = {"INSTALLFOLDER", "WIX_UPGRADE_DETECTED", "WIX_DOWNGRADE_DETECTED"}
# Files Kalnix and the setup program put beside Kalnix.exe, removed with it: at removal (2), or
# also at installation (3), which takes the setup program's uninstaller away.
REMOVED_FILES = {"Uninstall.exe": 3, "Kalnix.log": 2, "KalnixSetup.log": 2, "KalnixTask.xml": 2}


def entry_point(name, x64):
    return name if x64 else "_%s@4" % name


def is_short_name(name):
    """An 8.3 name as the Filename type takes it (ICE03)."""
    return re.fullmatch(r"[^\\?|><:/*\" +,;=\[\].]{1,8}(\.[^\\?|><:/*\" +,;=\[\].]{1,3})?", name) is not None


def file_version(path):
    """FileVersion of a PE file's VS_FIXEDFILEINFO, as "a.b.c.d"."""
    with open(path, "rb") as stream:
        data = stream.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    most, least = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)


def check_codes(package, product_code, upgrade_code, version, same_product, next_package):
    properties = properties_of(package)
    check(properties.get("ProductCode") == "{%s}" % product_code, "ProductCode %s" % properties.get("ProductCode"))
    check(properties.get("UpgradeCode") == "{%s}" % upgrade_code, "UpgradeCode %s" % properties.get("UpgradeCode"))
    check(properties.get("ProductVersion") == version, "ProductVersion %s" % properties.get("ProductVersion"))
    # Windows Installer compares the first three fields only: a version that differs in the fourth
    # is the same product (else it would install beside this one), a later one is another.
    same, later = properties_of(same_product), properties_of(next_package)
    check(same.get("ProductVersion", "").split(".")[:3] == version.split(".")[:3] and
          same.get("ProductVersion") != version, "%s is no version differing in the fourth field" % same_product)
    check(same.get("ProductCode") == properties.get("ProductCode"),
          "a version differing in the fourth field only has another product code: %s" % same.get("ProductCode"))
    check(later.get("ProductCode") != properties.get("ProductCode"), "a later version has the same product code")
    check(later.get("UpgradeCode") == properties.get("UpgradeCode"), "a later version has another upgrade code")
    return properties


def check_properties(properties, x64, arch_summary, options):
    check(arch_summary, "platform of the summary")
    check(properties.get("ALLUSERS") == "1", "per-machine (ALLUSERS 1)")
    # Windows Installer's own top-level action: a package property of that name would break msiexec.
    check("ACTION" not in properties, "no ACTION property")
    # Otherwise AdminUser follows Privileged, which a standard user's repair has too.
    check(properties.get("MSIUSEREALADMINDETECTION") == "1", "AdminUser tells a real administrator")
    secure = set(properties.get("SecureCustomProperties", "").split(";"))
    check(SECURE_PROPERTIES | options <= secure, "secure properties: %s" % sorted(secure))


def check_actions(package, x64):
    actions = {row[0]: row for row in table(package, "CustomAction")}
    check(set(actions) == set(ACTIONS) | set(SET_PROPERTIES), "custom actions: %s" % sorted(actions))
    for name, row in actions.items():
        check(not int(row[1]) & 512, "%s is a commit action" % name)
    for name, (kind, _, _) in ACTIONS.items():
        row = actions.get(name, ["", "0", "", ""])
        check(int(row[1]) == kind, "%s is of type %s, not %s" % (name, row[1], kind))
        check(row[2] == "KalnixCA" and row[3] == entry_point(name, x64), "%s calls %s in %s" % (name, row[3], row[2]))
    for name, (property_name, value, _) in SET_PROPERTIES.items():
        row = actions.get(name, ["", "0", "", ""])
        check(row[1:4] == [str(SET_PROPERTY), property_name, value], "%s: %s" % (name, row[1:4]))

    sequence = {row[0]: (int(row[2]), row[1]) for row in table(package, "InstallExecuteSequence")}
    for name, (kind, condition, undoes) in ACTIONS.items():
        at, found = sequence.get(name, (-1, "<not sequenced>"))
        check(found == (condition or ""), "%s runs on %r, not %r" % (name, found, condition))
        if kind in (DEFERRED, ROLLBACK):
            check(sequence.get("InstallInitialize", (0,))[0] < at < sequence.get("InstallFinalize", (0,))[0],
                  "%s is not in the script" % name)
        if undoes:
            check(sequence.get(undoes, (0,))[0] == at + 1, "%s stands right before %s" % (name, undoes))
    undone = {undoes for _, _, undoes in ACTIONS.values() if undoes}
    for name, (kind, _, _) in ACTIONS.items():
        check(kind != DEFERRED or name in undone or name == "StopKalnix", "%s has no rollback action" % name)
    for name, (_, _, condition) in SET_PROPERTIES.items():
        check(sequence.get(name, (-1, None))[1] == condition, "%s runs on %s" % (name, sequence.get(name)))
    for earlier, later in ORDER:
        check(sequence.get(earlier, (10 ** 6,))[0] < sequence.get(later, (-1,))[0],
              "%s comes before %s: %s, %s" % (earlier, later, sequence.get(earlier), sequence.get(later)))


def check_folder_search(package, x64):
    searches = {row[1] for row in table(package, "AppSearch") if row[0] == "KALNIXINSTALLEDFOLDER"}
    locators = {row[0]: row for row in table(package, "RegLocator")}
    keys = set()
    for signature in searches:
        row = locators.get(signature, ["", "0", "", "", "0"])
        # HKLM, the raw value, in the package's own registry view.
        check(row[1] == "2" and row[3] == "InstallLocation" and int(row[4]) == 2 + (16 if x64 else 0),
              "search %s: %s" % (signature, row))
        keys.add(row[2].lower())
    entry = "software\\microsoft\\windows\\currentversion\\uninstall\\"
    check(keys == {entry + "[wix_upgrade_detected]", entry + "[productcode]"},
          "the installed folder is looked for in the replaced and the installed version's entry: %s" % keys)


def check_upgrades(package, upgrade_code, version, x64):
    upgrades = {row[6]: row for row in table(package, "Upgrade")}
    later, earlier = upgrades.get("WIX_DOWNGRADE_DETECTED"), upgrades.get("WIX_UPGRADE_DETECTED")
    check(earlier and earlier[0] == "{%s}" % upgrade_code and earlier[2] == version and not int(earlier[4]) & 2,
          "earlier versions below %s are removed: %s" % (version, earlier))
    check(later and later[1] == version and int(later[4]) & 2, "later versions are only detected: %s" % later)
    conditions = {row[0]: row[1] for row in table(package, "LaunchCondition")}
    check("newer version of Kalnix" in conditions.get("NOT WIX_DOWNGRADE_DETECTED", ""), "downgrade refused")
    check(("VersionNT64" if x64 else "NOT VersionNT64") in conditions, "the architecture's Windows only")
    for component in table(package, "Component"):
        check(bool(int(component[3]) & 256) == x64, "component %s: 64-bit only in the x64 package" % component[0])
    directories = {row[0]: row[1] for row in table(package, "Directory")}
    check(directories.get("INSTALLFOLDER") == ("ProgramFiles64Folder" if x64 else "ProgramFilesFolder"),
          "INSTALLFOLDER in the architecture's Program Files: %s" % directories.get("INSTALLFOLDER"))


def check_files(package, library, exe):
    files = {row[2]: row for row in table(package, "File")}
    check(set(files) == {"Kalnix.exe"}, "files: %s" % sorted(files))
    # A versioned file: "versioned files win" replaces an older Kalnix.exe, and a hash belongs to
    # unversioned files only.
    row = files.get("Kalnix.exe", ["", "", "", "", "", ""])
    check(row[4] == file_version(exe) and row[5] == "1033", "Kalnix.exe's version and language: %s" % row[4:6])
    hashed = {row[0] for row in table(package, "MsiFileHash")}
    check(row[0] not in hashed, "Kalnix.exe has a MsiFileHash row")
    removed = {}
    for row in table(package, "RemoveFile"):
        short, _, long = row[2].rpartition("|")
        removed[long] = int(row[4])
        check(is_short_name(short or long), "RemoveFile %s has no 8.3 short name (ICE03)" % row[2])
    check(removed == REMOVED_FILES, "files removed with Kalnix.exe: %s" % removed)
    with tempfile.TemporaryDirectory() as scratch:
        extracted = os.path.join(scratch, "KalnixCA.dll")
        with open(extracted, "wb") as out:
            subprocess.run(["msiinfo", "extract", package, "Binary.KalnixCA"], check=True, stdout=out)
        with open(extracted, "rb") as a, open(library, "rb") as b:
            check(a.read() == b.read(), "the package carries %s" % library)


def check_start_menu_entry(package):
    """"Kalnix" in the Start menu of every user: ProgramMenuFolder of a per-machine package (the
    properties check ALLUSERS 1), made and removed with Kalnix.exe, starting the file itself (a
    feature as target would make it an advertised shortcut, which can set off a repair)."""
    shortcuts = [row for row in table(package, "Shortcut")]
    check(len(shortcuts) == 1, "one shortcut: %s" % shortcuts)
    row = (shortcuts or [[""] * 12])[0]
    check(row[1:5] == ["ProgramMenuFolder", "Kalnix", "KalnixExe", "[#KalnixExe]"], "the Start menu entry: %s" % row)
    check(row[11] == "INSTALLFOLDER", "it starts in the install folder: %s" % row[11])
    directories = {r[0]: r for r in table(package, "Directory")}
    check(directories.get("ProgramMenuFolder", [""] * 3)[1:] == ["TARGETDIR", "."],
          "ProgramMenuFolder is Windows Installer's own: %s" % directories.get("ProgramMenuFolder"))
    sequence = {r[0] for r in table(package, "InstallExecuteSequence")}
    check({"CreateShortcuts", "RemoveShortcuts"} <= sequence, "shortcuts created and removed")


def main():
    arch, package, product_code, upgrade_code, version, library, exe, same_product, next_package, table = sys.argv[1:11]
    options = {fact.option for fact in read_table(table) if fact.option}
    x64 = arch == "x64"
    summary = subprocess.run(["msiinfo", "suminfo", package], check=True, capture_output=True).stdout.decode()
    properties = check_codes(package, product_code, upgrade_code, version, same_product, next_package)
    check_properties(properties, x64, "Template: %s;1033" % ("x64" if x64 else "Intel") in summary, options)
    check_actions(package, x64)
    check_folder_search(package, x64)
    check_upgrades(package, upgrade_code, version, x64)
    check_files(package, library, exe)
    check_start_menu_entry(package)
    for failure in failures:
        print("FAIL: %s: %s" % (package, failure))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
