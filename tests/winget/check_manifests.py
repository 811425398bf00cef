#!/usr/bin/env python3
"""Checks a release's winget manifests against what was built: each file valid under the
official 1.12.0 schema (a copy in schema/, with its licence), the three files of one package
and version, the version and publisher the setup programs carry, every setup program and MSI
package listed with the SHA-256 of the built file, the switches and scope of a per-machine
silent installation, the x86 installers kept off 64-bit Windows, and the setup program's exit
codes as the admin guide's table of return codes gives them.

    check_manifests.py MANIFEST_DIR ADMIN_GUIDE X64_BIN_DIR X86_BIN_DIR
"""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys

import jsonschema
import yaml

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "static"))
from check_deliverables import RT_VERSION, PeFile, version_strings  # noqa: E402

SCHEMAS = {"version": "manifest.version.1.12.0.json", "installer": "manifest.installer.1.12.0.json",
           "defaultLocale": "manifest.defaultLocale.1.12.0.json"}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def load_manifests(folder):
    """{manifest type: document}, each validated against its schema."""
    documents = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), encoding="utf-8") as stream:
            document = yaml.safe_load(stream)
        kind = document.get("ManifestType")
        check(kind in SCHEMAS and kind not in documents, "%s: manifest type %r" % (name, kind))
        if kind not in SCHEMAS:
            continue
        documents[kind] = document
        with open(os.path.join(HERE, "schema", SCHEMAS[kind]), encoding="utf-8") as stream:
            validator = jsonschema.Draft7Validator(json.load(stream))
        for error in validator.iter_errors(document):
            failures.append("%s: %s at %s" % (name, error.message, "/".join(map(str, error.absolute_path))))
    check(set(documents) == set(SCHEMAS), "manifests: %s" % sorted(documents))
    return documents


def return_code_rows(guide):
    """{code: {column: cell}} of the admin guide's one table of return codes."""
    with open(guide, encoding="utf-8") as stream:
        text = stream.read()
    table = text[text.index("| Code | Setup program |"):].splitlines()
    columns = [cell.strip() for cell in table[0].strip("|").split(" | ")]
    rows = {}
    for line in table[2:]:
        if not line.startswith("| "):
            break
        cells = [cell.strip() for cell in line.strip().strip("|").split(" | ")]
        check(len(cells) == len(columns), "%s: the row %s has %d cells" % (guide, cells[0], len(cells)))
        rows[int(cells[0])] = dict(zip(columns, cells))
    return rows


def readme_exit_codes(guide):
    """{code: meaning} of the setup program's codes: the rows whose setup program's cell is no dash."""
    return {code: row["Setup program"] for code, row in return_code_rows(guide).items()
            if row.get("Setup program", "—") != "—"}


def readme_winget_responses(guide):
    """{code: winget's ReturnResponse} of the setup program's codes, as the winget column names them."""
    responses = {}
    for code, row in return_code_rows(guide).items():
        response = re.match(r"`(\w+)`", row.get("winget", ""))
        if response and row.get("Setup program", "—") != "—":
            responses[code] = response.group(1)
    return responses


def sha256(path):
    with open(path, "rb") as stream:
        return hashlib.sha256(stream.read()).hexdigest().upper()


def msi_property(path, name):
    table = subprocess.run(["msiinfo", "export", path, "Property"], capture_output=True, text=True, check=True).stdout
    found = re.search(r"^%s\t(.*?)\r?$" % name, table, re.M)
    return found.group(1) if found else None


def check_setup_program(path, documents):
    values, _ = version_strings(PeFile(path).resources()[(RT_VERSION, 1)])
    check(values.get("ProductVersion") == documents["version"]["PackageVersion"],
          "%s: version %r, manifests %r" % (path, values.get("ProductVersion"), documents["version"]["PackageVersion"]))
    check(values.get("CompanyName") == documents["defaultLocale"]["Publisher"],
          "%s: publisher %r" % (path, values.get("CompanyName")))


def check_nullsoft(where, installer, root, exit_codes, responses):
    switches = installer.get("InstallerSwitches", {})
    check(switches.get("Silent") == "/S" and switches.get("SilentWithProgress") == "/S", "%s: silent %s" % (where, switches))
    check(switches.get("InstallLocation") == "/D=<INSTALLPATH>", "%s: location %s" % (where, switches))
    check(installer.get("ElevationRequirement", root.get("ElevationRequirement")) == "elevatesSelf",
          "%s: elevation" % where)
    check(installer.get("ProductCode") == "Kalnix", "%s: the Apps & Features key %r" % (where, installer.get("ProductCode")))
    # Every code the guide names, and only those: a success where Kalnix is installed.
    success = set(installer.get("InstallerSuccessCodes", []))
    expected = {row["InstallerReturnCode"] for row in installer.get("ExpectedReturnCodes", [])}
    check(not success & expected, "%s: codes both success and failure: %s" % (where, success & expected))
    wanted_success = {code for code, meaning in exit_codes.items() if code and meaning.startswith("installed")}
    check(success == wanted_success, "%s: success codes %s, guide %s" % (where, sorted(success), sorted(wanted_success)))
    wanted_failures = set(exit_codes) - wanted_success - {0}
    check(expected == wanted_failures, "%s: return codes %s, guide %s" % (where, sorted(expected), sorted(wanted_failures)))
    # Each failure as winget reports it, as the guide describes it to administrators.
    for row in installer.get("ExpectedReturnCodes", []):
        code = row["InstallerReturnCode"]
        check(responses.get(code) == row["ReturnResponse"],
              "%s: code %s is %s, guide %s" % (where, code, row["ReturnResponse"], responses.get(code)))


def main():
    manifest_dir, readme, bins = sys.argv[1], sys.argv[2], {"x64": sys.argv[3], "x86": sys.argv[4]}
    documents = load_manifests(manifest_dir)
    if set(documents) != set(SCHEMAS):
        print("\n".join("FAIL: " + f for f in failures))
        return 1
    identities = {(d["PackageIdentifier"], d["PackageVersion"]) for d in documents.values()}
    check(len(identities) == 1, "the three files describe %s" % identities)
    check(documents["version"]["DefaultLocale"] == documents["defaultLocale"]["PackageLocale"], "default locale")
    root = documents["installer"]
    check(root.get("Scope") == "machine" and root.get("UpgradeBehavior") == "install", "scope and upgrade behaviour")

    exit_codes = readme_exit_codes(readme)
    responses = readme_winget_responses(readme)
    check(0 in exit_codes and len(exit_codes) > 1, "the guide's exit codes: %s" % exit_codes)
    # What was built: both setup programs, and the MSI packages where the build makes them.
    built = {(arch, "nullsoft"): os.path.join(bins[arch], "KalnixSetup-%s.exe" % arch) for arch in bins}
    for arch in bins:
        package = os.path.join(bins[arch], "KalnixSetup-%s.msi" % arch)
        if os.path.exists(package):
            built[(arch, "wix")] = package
    listed = {}
    for installer in root["Installers"]:
        key = (installer["Architecture"], installer.get("InstallerType", root.get("InstallerType")))
        check(key not in listed, "%s listed twice" % (key,))
        listed[key] = installer
    check(set(listed) == set(built), "installers %s, built %s" % (sorted(listed), sorted(built)))

    for key, installer in listed.items():
        path = built.get(key)
        if not path:
            continue
        where = "%s %s" % key
        # The x86 setup program and package refuse 64-bit Windows, where winget must not offer them.
        unsupported = set(installer.get("UnsupportedOSArchitectures", []))
        check(unsupported == ({"x64", "arm64"} if key[0] == "x86" else set()),
              "%s: unsupported architectures %s" % (where, sorted(unsupported)))
        check(installer["InstallerUrl"].endswith("/" + os.path.basename(path)), "%s: URL %s" % (where, installer["InstallerUrl"]))
        check(installer["InstallerSha256"].upper() == sha256(path), "%s: SHA-256 is not %s's" % (where, path))
        if key[1] == "nullsoft":
            check_setup_program(path, documents)
            check_nullsoft(where, installer, root, exit_codes, responses)
        else:
            location = installer.get("InstallerSwitches", {}).get("InstallLocation")
            check(location == 'INSTALLFOLDER="<INSTALLPATH>"', "%s: location %s" % (where, location))
            if shutil.which("msiinfo"):
                check(installer.get("ProductCode") == msi_property(path, "ProductCode"), "%s: product code" % where)

    for failure in failures:
        print("FAIL:", failure)
    print("winget manifests: %s" % ("%d problem(s)" % len(failures) if failures else "all checks hold"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
