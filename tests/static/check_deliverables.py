#!/usr/bin/env python3
"""Checks the built deliverables of one architecture without running them: the machine,
the exact export names the setup program resolves, imports of KnownDLLs only, the website's
https address, the resources (icons at every size, dialogs, logo, manifest with its DPI
awareness, version, the event messages) and the setup program. Where a machine cannot run 32-bit programs this is all that can be
seen of the x86 build.

    check_deliverables.py ARCH BIN_DIR      (ARCH: x86 or x64)
"""
import os
import re
import subprocess
import shutil
import zipfile
import struct
import sys

SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")

MACHINE = {"x86": 0x14C, "x64": 0x8664}
MANIFEST_ARCH = {"x86": "x86", "x64": "amd64"}

POWER_EXPORTS = [("SavePowerSettings", 0), ("RestorePowerSettings", 0)]
CA_EXPORTS = POWER_EXPORTS + [("InstallDriverAndStart", 4), ("RemoveDriver", 0), ("TerminateUIProcess", 0),
                              ("InstallKalnixTask", 8), ("SetRunKey", 4), ("DeleteRunKey", 0), ("SecureFolder", 4),
                              ("SecureInstallFolder", 12), ("CheckInstallFolder", 12),
                              ("EndInstalledKalnix", 4), ("IsLocalSystem", 0), ("SettingExists", 4),
                              ("PowerSettingsAreSaved", 0), ("WriteTaskHead", 4), ("TaskIsRegistered", 0),
                              ("TakeOverX86Settings", 0), ("SetLogPath", 4), ("PrepareLogFolder", 4),
                              ("RunKalnixTask", 0), ("TaskIsAbsent", 0), ("MsiPackageInstalled", 12),
                              ("InstallProtectionService", 4), ("StartProtectionService", 0),
                              ("StopProtectionService", 0), ("RemoveProtectionService", 0),
                              ("ProtectionServiceInstalled", 0)]
# The Windows Installer packages' custom actions, each taking the installer's handle.
CA_EXPORTS += [(name, 4) for name in (
    "PlanKalnixPackage", "SecureKalnixFolder", "UndoKalnixFolder", "WriteKalnixSettings", "UndoKalnixSettings",
    "RegisterKalnixStart", "UndoKalnixStart", "RegisterKalnixEvents", "UndoKalnixEvents", "CompleteKalnixTakeOver",
    "StartKalnixForUser", "StopKalnix", "RemoveKalnixStart", "RestoreKalnixStart", "RemoveKalnixSettings",
    "PutBackKalnixSettings", "UndoKalnixTakeOver", "EndStartedKalnix", "StopKalnixService",
    "StartKalnixServiceAgain", "InstallKalnixService", "UndoKalnixService", "RemoveKalnixService",
    "PutBackKalnixService")]
# An elevated Kalnix imports only KnownDLLs: Windows maps those from System32 whatever lies
# beside the program, while any other imported library would be looked for in the program's
# folder first. These are the values of HKLM\SYSTEM\CurrentControlSet\Control\Session
# Manager\KnownDLLs that stock Windows 10 and Windows 11 have in common (as Microsoft's
# "Dynamic-link library search order" points to that key for the list); the WOW64 and ARM
# emulation entries (_wow64cpu, _wowarmhw, _xtajit, wow64, wow64win, wow64base, wow64con) are
# left out, since no program imports them. The common controls come through the manifest, from
# the side-by-side store.
KNOWN_DLLS = {"advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
              "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll",
              "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
              "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll",
              "ws2_32.dll"}
KALNIX_IMPORTS = KNOWN_DLLS | {"comctl32.dll"}
# KalnixCA.dll runs in the elevated setup program and uninstaller: KnownDLLs only as well.
CA_IMPORTS = KNOWN_DLLS

RT_ICON_GROUP, RT_DIALOG, RT_VERSION, RT_MANIFEST, RT_MESSAGETABLE = 14, 5, 16, 24, 11
# The notification area's icon size at 100, 125, 150, 200, 250, 300 and 400 % display scale.
ICON_SIZES = {16, 20, 24, 32, 40, 48, 64}
# The application icon, then the tray icons in their three looks (dark taskbar, light, high contrast).
ICON_GROUPS = {108: ICON_SIZES | {256}, 109: ICON_SIZES, 111: ICON_SIZES, 201: ICON_SIZES, 202: ICON_SIZES,
               203: ICON_SIZES, 204: ICON_SIZES}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def export_name(arch, name, argument_bytes):
    return "_%s@%d" % (name, argument_bytes) if arch == "x86" else name


class PeFile:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        nt = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[nt:nt + 4] != b"PE\0\0":
            raise ValueError("%s: not a PE file" % path)
        self.machine, sections, _, _, _, optional_size = struct.unpack_from("<HHIIIH", self.data, nt + 4)
        optional = nt + 24
        magic = struct.unpack_from("<H", self.data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            _, virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("%s: RVA %#x outside every section" % (self.path, rva))

    def u16(self, rva):
        return struct.unpack_from("<H", self.data, self.offset(rva))[0]

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return set()
        count, names = self.u32(rva + 24), self.u32(rva + 32)
        return {self.cstring(self.u32(names + 4 * i)) for i in range(count)}

    def imports(self):
        rva, size = self.directories[1]
        found = set()
        while size and self.u32(rva + 12):
            found.add(self.cstring(self.u32(rva + 12)).lower())
            rva += 20
        return found

    def resources(self):
        """{(type, name): bytes} for the first language of each resource; types and names
        are ints or upper-case strings."""
        root, size = self.directories[2]
        found = {}
        if not size:
            return found

        def entries(directory):
            named, ids = struct.unpack_from("<HH", self.data, self.offset(root + directory + 12))
            for i in range(named + ids):
                key, target = struct.unpack_from("<II", self.data, self.offset(root + directory + 16 + 8 * i))
                if key & 0x80000000:
                    at = root + (key & 0x7FFFFFFF)
                    length = self.u16(at)
                    start = self.offset(at + 2)
                    key = self.data[start:start + 2 * length].decode("utf-16-le").upper()
                yield key, target

        for kind, kind_target in entries(0):
            for name, name_target in entries(kind_target & 0x7FFFFFFF):
                _, leaf = next(entries(name_target & 0x7FFFFFFF))
                data_rva, data_size = struct.unpack_from("<II", self.data, self.offset(root + leaf))
                start = self.offset(data_rva)
                found[(kind, name)] = self.data[start:start + data_size]
        return found


def version_strings(block):
    """The StringFileInfo values, the fixed file version and the translations of a
    VS_VERSIONINFO resource."""
    values, translations = {}, []

    def walk(at, end, path):
        while at + 6 <= end:
            length, value_length, value_type = struct.unpack_from("<HHH", block, at)
            if length == 0:
                break
            key_end = at + 6
            while block[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = block[at + 6:key_end].decode("utf-16-le")
            value_at = (key_end + 2 + 3) & ~3
            value_bytes = value_length * 2 if value_type == 1 else value_length
            value = block[value_at:value_at + value_bytes]
            if path and path[0] == "StringFileInfo" and len(path) == 2:
                values[key] = value.decode("utf-16-le").rstrip("\0")
            elif key == "Translation":
                translations.extend(struct.unpack_from("<%dH" % (len(value) // 2), value))
            elif key == "VS_VERSION_INFO":
                ms, ls = struct.unpack_from("<II", value, 8)
                values["<FileVersion>"] = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
            children = (value_at + value_bytes + 3) & ~3
            walk(children, at + length, path + [key] if key != "VS_VERSION_INFO" else path)
            at = (at + length + 3) & ~3

    walk(0, len(block), [])
    return values, translations


def check_version(pe, resources, expected):
    block = resources.get((RT_VERSION, 1))
    check(block is not None, "%s: no version resource" % pe.path)
    if block is None:
        return
    values, translations = version_strings(block)
    check(values.get("<FileVersion>") == (1, 0, 0, 0), "%s: file version %s" % (pe.path, values.get("<FileVersion>")))
    check(translations == [0x409, 1200], "%s: translations %s" % (pe.path, translations))
    for key, value in expected.items():
        check(values.get(key) == value, "%s: %s is %r, not %r" % (pe.path, key, values.get(key), value))


def check_module(arch, pe, exports, imports):
    check(pe.machine == MACHINE[arch], "%s: machine %#x, not %s" % (pe.path, pe.machine, arch))
    wanted = {export_name(arch, name, size) for name, size in exports}
    check(pe.exports() == wanted, "%s: exports %s, not %s" % (pe.path, sorted(pe.exports()), sorted(wanted)))
    extra = pe.imports() - imports
    check(pe.imports() and not extra, "%s: imports %s, which are no KnownDLLs" % (pe.path, sorted(extra)))


def check_kalnix(arch, path):
    pe = PeFile(path)
    check_module(arch, pe, POWER_EXPORTS, KALNIX_IMPORTS)
    resources = pe.resources()
    for kind, name in [(RT_ICON_GROUP, 108), (RT_ICON_GROUP, 109), (RT_ICON_GROUP, 111), (RT_DIALOG, 106),
                       (RT_DIALOG, 112), (RT_DIALOG, 300)]:
        check((kind, name) in resources, "%s: no resource %s/%s" % (path, kind, name))
    check_icons(path, resources)
    check(resources.get(("LOGO", 110), b"")[:8] == b"\x89PNG\r\n\x1a\n", "%s: no PNG logo 110" % path)
    manifest = resources.get((RT_MANIFEST, 1), b"").decode("utf-8", "replace")
    # Each session's Kalnix runs with its user's own rights; the tray program without the service
    # asks for an administrator's itself.
    check('level="asInvoker"' in manifest, "%s: manifest does not run as the invoker" % path)
    check('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in " ".join(manifest.split()),
          "%s: manifest does not ask for common controls 6" % path)
    check_dpi_awareness(path, manifest)
    architectures = set(part.split('"')[1] for part in manifest.split("processorArchitecture=")[1:])
    check(architectures == {MANIFEST_ARCH[arch]}, "%s: manifest architectures %s" % (path, sorted(architectures)))
    check_version(pe, resources, {"FileDescription": "Kalnix Application", "ProductName": "Kalnix Application",
                                  "InternalName": "Kalnix", "OriginalFilename": "Kalnix.exe",
                                  "FileVersion": "1, 0, 0, 0", "ProductVersion": "1, 0, 0, 0"})
    check_event_messages(path, resources)
    check_website(pe, resources)


def icon_group_sizes(block):
    """The (size, bits per pixel) of each image a GRPICONDIR lists; 0 stands for 256."""
    _, _, count = struct.unpack_from("<HHH", block, 0)
    entries = [struct.unpack_from("<BBBBHHIH", block, 6 + 14 * i) for i in range(count)]
    return [(width or 256, bits) for width, height, _, _, _, bits, _, _ in entries if width == height]


def check_icons(path, resources):
    """Every icon carries a 32-bit image at each size the notification area asks for."""
    for group, sizes in sorted(ICON_GROUPS.items()):
        block = resources.get((RT_ICON_GROUP, group))
        check(block is not None, "%s: no icon %d" % (path, group))
        if block is None:
            continue
        found = {size for size, bits in icon_group_sizes(block) if bits == 32}
        check(found >= sizes, "%s: icon %d lacks 32-bit images of %s px" % (path, group, sorted(sizes - found)))


def check_dpi_awareness(path, manifest):
    """Per-monitor v2 first (per-monitor for Windows 10 1607), and dpiAware true/pm for older Windows."""
    awareness = re.search(r"<dpiAwareness[^>]*>([^<]*)</dpiAwareness>", manifest)
    modes = [m.strip().lower() for m in awareness.group(1).split(",")] if awareness else []
    check(modes[:2] == ["permonitorv2", "permonitor"], "%s: manifest dpiAwareness %s" % (path, modes))
    aware = re.search(r"<dpiAware[^>]*>([^<]*)</dpiAware>", manifest)
    check(aware is not None and aware.group(1).strip().lower() == "true/pm",
          "%s: manifest dpiAware %s" % (path, aware.group(1) if aware else None))


def utf16_strings(data):
    """The printable ASCII strings of four characters or more stored as UTF-16."""
    return [m.decode("utf-16-le") for m in re.findall(rb"(?:[\x20-\x7e]\x00){4,}", data)]


def check_website(pe, resources):
    """The status dialog's link opens the product website as https://host/ (every web address
    in the program has that form), and its text is that host."""
    addresses = [s for s in utf16_strings(pe.data) if "://" in s]
    check(addresses, "%s: no web address" % pe.path)
    for address in addresses:
        match = re.fullmatch(r"https://([A-Za-z0-9.-]+)/", address)
        check(match is not None, "%s: the website %r is no https://host/ address" % (pe.path, address))
        if match:
            dialog = utf16_strings(resources.get((RT_DIALOG, 106), b""))
            check(match.group(1) in dialog, "%s: the status dialog does not show %s" % (pe.path, match.group(1)))


def message_table(data):
    """{event ID: text} of a MESSAGE_RESOURCE_DATA block (ANSI or UTF-16 entries)."""
    messages = {}
    (blocks,) = struct.unpack_from("<I", data, 0)
    for block in range(blocks):
        low, high, offset = struct.unpack_from("<III", data, 4 + 12 * block)
        for message_id in range(low, high + 1):
            length, flags = struct.unpack_from("<HH", data, offset)
            text = data[offset + 4:offset + length]
            messages[message_id] = text.decode("utf-16-le" if flags & 1 else "cp1252").rstrip("\0\r\n")
            offset += length
    return messages


def source_text(*parts):
    with open(os.path.join(SOURCE_DIR, *parts), encoding="utf-8") as source:
        return source.read()


def check_event_messages(path, resources):
    """Every event the code reports has a message in Kalnix.exe with as many inserts as the
    code gives it, and the admin guide's event table lists every message."""
    messages = message_table(resources.get((RT_MESSAGETABLE, 1), b"\0\0\0\0"))
    check(messages, "%s: no message table" % path)
    names = {}
    for block in re.split(r"\n\s*\n", source_text("res", "kalnix_events.mc")):
        number = re.search(r"^MessageId=(\d+)", block, re.M)
        name = re.search(r"^SymbolicName=(\w+)", block, re.M)
        if number and name:
            names[name.group(1)] = int(number.group(1))
    table = dict((name, int(count)) for name, count in
                 re.findall(r"\{(KALNIX_EVENT_\w+), (\d+)\}", source_text("common", "event_report.cpp")))
    used = set()
    for folder in ("app", "common", "protect", "setup"):
        for file in os.listdir(os.path.join(SOURCE_DIR, folder)):
            if file.endswith((".cpp", ".h")):
                used.update(re.findall(r"KALNIX_EVENT_\w+", source_text(folder, file)))
    for name in sorted(used - set(table)):
        check(False, "%s is reported but has no insert count in common/event_report.cpp" % name)
    # Only the event table's rows: other tables of the guide hold four-digit codes too.
    events = re.search(r"^## Events$(.*?)(?:^#|\Z)", source_text("docs", "admin-guide.md"), re.M | re.S)
    readme_ids = set(int(n) for n in re.findall(r"^\| (\d{4}) \|", events.group(1) if events else "", re.M))
    for name, count in sorted(table.items()):
        event_id = names.get(name)
        check(event_id is not None, "%s: not in res/kalnix_events.mc" % name)
        if event_id is None:
            continue
        # The message table keys on the whole ID, severity bits included.
        text = next((t for key, t in messages.items() if key & 0xFFFF == event_id), None)
        check(text is not None, "%s: no message %d for %s" % (path, event_id, name))
        inserts = max([int(n) for n in re.findall(r"%(\d+)", text or "")] or [0])
        check(inserts == count, "%s: message %d takes %d inserts, the code gives %d" % (path, event_id, inserts, count))
        check(event_id in readme_ids, "docs/admin-guide.md: event %d is not in the event table" % event_id)
    check(readme_ids == set(names.values()),
          "docs/admin-guide.md: event table %s, messages %s" % (sorted(readme_ids), sorted(names.values())))


def check_installer_library(arch, path):
    pe = PeFile(path)
    check_module(arch, pe, CA_EXPORTS, CA_IMPORTS)
    resources = pe.resources()
    check((RT_MANIFEST, 2) in resources, "%s: no isolation manifest" % path)
    check_version(pe, resources, {"FileDescription": "KalnixCA Dynamic Link Library",
                                  "InternalName": "KalnixCA", "OriginalFilename": "KalnixCA.dll",
                                  "FileVersion": "1, 0, 0, 0"})


def check_setup_program(arch, path):
    pe = PeFile(path)
    check(pe.machine == MACHINE[arch], "%s: machine %#x, not %s" % (path, pe.machine, arch))


def check_policies_and_codes(arch, bin_dir):
    """The Group Policy template as the build output lays it out and zips it, and the product
    codes file: this package's code as the package carries it, each as the admin guide prints it."""
    sources = {"Kalnix.admx": ("installer", "admx", "Kalnix.admx"),
               "en-US/Kalnix.adml": ("installer", "admx", "en-US", "Kalnix.adml")}
    with zipfile.ZipFile(os.path.join(bin_dir, "KalnixPolicies.zip")) as policies:
        check(sorted(policies.namelist()) == sorted(sources), "KalnixPolicies.zip holds %s" % policies.namelist())
        for name, parts in sources.items():
            with open(os.path.join(SOURCE_DIR, *parts), "rb") as source:
                wanted = source.read()
            with open(os.path.join(bin_dir, "policies", *name.split("/")), "rb") as copied:
                check(copied.read() == wanted, "policies/%s differs from its source" % name)
            if name in policies.namelist():
                check(policies.read(name) == wanted, "KalnixPolicies.zip: %s differs from its source" % name)
    with open(os.path.join(bin_dir, "product-codes.txt"), encoding="utf-8") as listing:
        codes = dict(re.findall(r"^KalnixSetup-(x64|x86)\.msi  ProductCode (\{[0-9A-F-]{36}\})", listing.read(), re.M))
    check(sorted(codes) == ["x64", "x86"], "product-codes.txt names %s" % sorted(codes))
    guide = source_text("docs", "admin-guide.md")
    for code in codes.values():
        check(code in guide, "docs/admin-guide.md does not print the product code %s" % code)
    package = os.path.join(bin_dir, "KalnixSetup-%s.msi" % arch)
    if arch in codes and os.path.exists(package) and shutil.which("msiinfo"):
        table = subprocess.run(["msiinfo", "export", package, "Property"], capture_output=True, text=True).stdout
        found = re.search(r"^ProductCode\t(\S+)", table, re.M)
        check(found and found.group(1) == codes[arch],
              "%s: product code %s, product-codes.txt %s" % (package, found and found.group(1), codes[arch]))


def main():
    arch, bin_dir = sys.argv[1], sys.argv[2]
    checks = [(check_kalnix, bin_dir + "/Kalnix.exe"),
              (check_installer_library, bin_dir + "/standard/KalnixCA.dll"),
              (check_installer_library, bin_dir + "/diagnostic/KalnixCA.dll"),
              (check_setup_program, "%s/KalnixSetup-%s.exe" % (bin_dir, arch)),
              (check_policies_and_codes, bin_dir)]
    for check_file, path in checks:
        try:
            check_file(arch, path)
        except (OSError, ValueError, struct.error) as error:
            failures.append("%s: %s" % (path, error))
    for failure in failures:
        print("FAIL:", failure)
    print("%s deliverables: %s" % (arch, "%d problem(s)" % len(failures) if failures else "all checks hold"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
