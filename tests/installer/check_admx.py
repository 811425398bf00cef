"""The Group Policy template: both files well-formed, and its policies name exactly the eight
settings of Kalnix with their ranges and the setup program's first values as the editor's
defaults, under Software\\Policies\\Kalnix (never the settings key Kalnix itself writes); its
revision is above the first template's (1.0), which wrote the settings key; every policy is
supported on Kalnix's own definition, which starts at this build's version (argument 3, as
major.minor); every text it refers to exists."""
import re
import sys
import xml.etree.ElementTree as ET

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
check(sorted(values) == ["Action", "AlarmTime", "AlarmWithExternalDisplay", "EnableLogging", "HibernateAfter",
                        "HideTrayIcon", "RestAfter", "StandbyDrainAlert"],
      f"values named: {sorted(values)}")

action = admx.find("p:policies/p:policy[@name='Action']/p:elements/p:enum", NS)
check(action is not None and action.get("valueName") == "Action", "Action is not an enum of value Action")
if action is not None:
    items = sorted(int(d.get("value")) for d in action.findall("p:item/p:value/p:decimal", NS))
    check(items == [1, 2], f"Action items {items}")

# Number settings: the range Kalnix accepts, and the first value a new installation writes.
NUMBERS = {
    "AlarmTime": ("5", "60", "15"),
    "RestAfter": ("0", "86400", "60"),
    "HibernateAfter": ("0", "1440", "60"),
    "StandbyDrainAlert": ("0", "100", "5"),
}
for name, (low, high, first) in NUMBERS.items():
    number = admx.find(f"p:policies/p:policy[@name='{name}']/p:elements/p:decimal[@valueName='{name}']", NS)
    check(number is not None and (number.get("minValue"), number.get("maxValue")) == (low, high),
          f"{name} is not a decimal from {low} to {high}")
    box = adml.find(f"p:resources/p:presentationTable/p:presentation/p:decimalTextBox[@refId='{name}']", NS)
    check(box is not None and box.get("defaultValue") == first, f"{name} is not offered with {first}")

for name in ("AlarmWithExternalDisplay", "EnableLogging", "HideTrayIcon"):
    policy = values.get(name)
    on = policy.find("p:enabledValue/p:decimal", NS) if policy is not None else None
    off = policy.find("p:disabledValue/p:decimal", NS) if policy is not None else None
    check(on is not None and on.get("value") == "1" and off is not None and off.get("value") == "0",
          f"{name} is not 1 when enabled and 0 when disabled")

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

strings = {s.get("id") for s in adml.findall("p:resources/p:stringTable/p:string", NS)}
presentations = {p.get("id") for p in adml.findall("p:resources/p:presentationTable/p:presentation", NS)}
text = open(sys.argv[1], encoding="utf-8").read()
for ref in re.findall(r"\$\(string\.([^)]+)\)", text):
    check(ref in strings, f"string {ref} missing from the ADML")
for ref in re.findall(r"\$\(presentation\.([^)]+)\)", text):
    check(ref in presentations, f"presentation {ref} missing from the ADML")

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
