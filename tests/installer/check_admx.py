"""The Group Policy template: both files well-formed, and its policies are exactly the settings
the settings table (common/setting_table.def, argument 4) lets a policy set, each under the
setting's own value name with the setting's range, its first value as the editor's default, and
a help text that says when Kalnix reads it and gives the same range and first value; all under
Software\\Policies\\Kalnix (never the settings key Kalnix itself writes); its revision is above
the first template's (1.0), which wrote the settings key; every policy is supported on Kalnix's
own definition, which starts at this build's version (argument 3, as major.minor); every text it
refers to exists."""
import os
import re
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "cmake"))
from setting_table import read_table  # noqa: E402

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


admx = ET.parse(sys.argv[1]).getroot()
adml = ET.parse(sys.argv[2]).getroot()

policies = admx.findall("p:policies/p:policy", NS)
values = {}
for policy in policies:
    check(policy.get("class") == "Machine", f"{policy.get('name')}: class {policy.get('class')}")
    check(policy.get("key") == "Software\\Policies\\Kalnix", f"{policy.get('name')}: key {policy.get('key')}")
    named = [policy.get("valueName")] + [e.get("valueName") for e in policy.iter() if e.get("valueName")]
    for name in filter(None, named):
        values.setdefault(name, policy)
settings = {fact.name: fact for fact in read_table(sys.argv[4]) if fact.kind == "Setting" and fact.policy}
check(sorted(values) == sorted(settings), f"values named: {sorted(values)}, the table's: {sorted(settings)}")
strings = {s.get("id"): s.text or "" for s in adml.findall("p:resources/p:stringTable/p:string", NS)}


def help_text(policy):
    ref = re.fullmatch(r"\$\(string\.([^)]+)\)", policy.get("explainText") or "")
    return strings.get(ref.group(1), "") if ref else ""


def presentation(kind, name):
    return adml.find(f"p:resources/p:presentationTable/p:presentation/p:{kind}[@refId='{name}']", NS)


def check_choice(name, fact, policy):
    choice = policy.find(f"p:elements/p:enum[@valueName='{name}']", NS)
    items = [] if choice is None else [int(d.get("value")) for d in choice.findall("p:item/p:value/p:decimal", NS)]
    check(sorted(items) == list(range(fact.least, fact.most + 1)), f"{name} items {items}")
    box = presentation("dropdownList", name)
    index = int(box.get("defaultItem", "-1")) if box is not None else -1
    offered = items[index] if 0 <= index < len(items) else None
    check(offered == fact.first, f"{name} is offered with {offered}, not {fact.first}")


def check_number(name, fact, policy, explained):
    number = policy.find(f"p:elements/p:decimal[@valueName='{name}']", NS)
    limits = None if number is None else (number.get("minValue"), number.get("maxValue"))
    check(limits == (str(fact.least), str(fact.most)), f"{name} is not a decimal from {fact.least} to {fact.most}")
    box = presentation("decimalTextBox", name)
    offered = None if box is None else box.get("defaultValue")
    check(offered == (None if fact.first is None else str(fact.first)), f"{name} is offered with {offered}")
    check(f"from {fact.least} to {fact.most}" in explained, f"{name}'s help gives another range")


def check_switch(name, policy):
    on = policy.find("p:enabledValue/p:decimal", NS)
    off = policy.find("p:disabledValue/p:decimal", NS)
    check(on is not None and on.get("value") == "1" and off is not None and off.get("value") == "0",
          f"{name} is not 1 when enabled and 0 when disabled")


for name, fact in settings.items():
    policy = values.get(name)
    if policy is None:
        continue
    explained = help_text(policy)
    if fact.form == "Choice":
        check_choice(name, fact, policy)
    elif fact.form == "Number":
        check_number(name, fact, policy, explained)
    else:
        check_switch(name, policy)
    for sets in re.findall(r"A new installation sets (\d+)", explained):
        check(int(sets) == fact.first, f"{name}'s help says a new installation sets {sets}, not {fact.first}")
    check(("when it starts" in explained) == (fact.read == "AtStart"),
          f"{name}'s help says otherwise when Kalnix reads it ({fact.read})")


# Administrative template editors compare revisions as numbers; the ADML must be at least as new
# as the ADMX asks for.
def revision(text):
    major, minor = (text or "0.0").split(".")
    return (int(major), int(minor))


check(revision(admx.get("revision")) > (1, 0), f"ADMX revision {admx.get('revision')} not raised above 1.0")
required = admx.find("p:resources", NS).get("minRequiredRevision")
check(revision(adml.get("revision")) >= revision(required),
      f"ADML revision {adml.get('revision')} below the required {required}")

# Kalnix's own product table: the supported-on definition every policy names starts at the
# release this template comes with.
major, minor = (int(n) for n in sys.argv[3].split("."))
product = admx.find("p:supportedOn/p:products/p:product", NS)
major_entry = None if product is None else product.find(f"p:majorVersion[@versionIndex='{major}']", NS)
minor_entry = None if major_entry is None else major_entry.find(f"p:minorVersion[@versionIndex='{minor}']", NS)
check(minor_entry is not None, f"no product version {major}.{minor} of Kalnix's own")
definitions = admx.findall("p:supportedOn/p:definitions/p:definition", NS)
used = {p.find("p:supportedOn", NS).get("ref") for p in policies if p.find("p:supportedOn", NS) is not None}
check(len(used) == 1 and all(p.find("p:supportedOn", NS) is not None for p in policies),
      f"policies name supported-on definitions {sorted(used)}")
definition = next((d for d in definitions if d.get("name") in used), None)
starts = [] if definition is None or major_entry is None else [
    r for r in definition.iter(f"{{{NS['p']}}}range")
    if r.get("ref") == major_entry.get("name") and int(r.get("minVersionIndex", "0")) == minor]
check(len(starts) == 1, f"the supported-on definition does not start at {major}.{minor}")

presentations = {p.get("id") for p in adml.findall("p:resources/p:presentationTable/p:presentation", NS)}
text = open(sys.argv[1], encoding="utf-8").read()
for ref in re.findall(r"\$\(string\.([^)]+)\)", text):
    check(ref in strings, f"string {ref} missing from the ADML")
for ref in re.findall(r"\$\(presentation\.([^)]+)\)", text):
    check(ref in presentations, f"presentation {ref} missing from the ADML")

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
