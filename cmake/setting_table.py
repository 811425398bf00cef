"""Reads common/setting_table.def, the table of the settings key's values, for the build and the
checks. Every line is a // comment, blank, or one entry in its exact columns: anything else is an
error, so that what the C++ compiler reads and what these scripts read cannot differ unnoticed."""
import re

NUMBER = r"(0|[1-9][0-9]*)"
TEXT = r'"([^"\\]*)"'
SEP = r"\s*,\s*"
SETTING = re.compile(
    r"KALNIX_SETTING\(([A-Za-z][A-Za-z0-9]*)" + SEP + r"(Switch|Choice|Number)" + SEP +
    r"(?:First\(" + NUMBER + r"\)|NoFirst)" + SEP + NUMBER + SEP + NUMBER + SEP + r"(Policy|NoPolicy)" + SEP +
    r"(AtStart|EachUse)" + SEP + r'"([A-Z]*)"' + SEP + r"(NoDialog|SettingsDialog|MoreSettings)" + SEP +
    NUMBER + SEP + NUMBER + SEP + TEXT + SEP + TEXT + r"\)")
OTHER = re.compile(r"KALNIX_(RECORD|SAVED)\(([A-Za-z][A-Za-z0-9]*)" + SEP + r"(Dword|MultiString|Binary)\)")


class Fact:
    """One value of the settings key, as the table states it."""

    def __init__(self, name, kind, type_="Dword", form="Raw", first=None, least=0, most=0, policy=False,
                 read="EachUse", option="", dialog="NoDialog", dialog_least=0, dialog_most=0, about="", unit=""):
        self.name, self.kind, self.type, self.form = name, kind, type_, form
        self.first, self.least, self.most, self.policy, self.read = first, least, most, policy, read
        self.option, self.dialog, self.dialog_least, self.dialog_most = option, dialog, dialog_least, dialog_most
        self.about, self.unit = about, unit

    @property
    def deleted_at_removal(self):
        return self.kind != "Saved"


def read_table(path):
    """The table's entries in their order; raises ValueError naming the first line it cannot read."""
    facts = []
    with open(path, encoding="utf-8") as table:
        for number, line in enumerate(table, 1):
            text = line.strip()
            if not text or text.startswith("//"):
                continue
            setting, other = SETTING.fullmatch(text), OTHER.fullmatch(text)
            if setting:
                (name, form, first, least, most, policy, read, option, dialog, dialog_least, dialog_most, about,
                 unit) = setting.groups()
                facts.append(Fact(name, "Setting", "Dword", form, None if first is None else int(first), int(least),
                                  int(most), policy == "Policy", read, option, dialog, int(dialog_least),
                                  int(dialog_most), about, unit))
            elif other:
                kind, name, type_ = other.groups()
                facts.append(Fact(name, "Record" if kind == "RECORD" else "Saved", type_))
            else:
                raise ValueError("%s:%d: not an entry of the table: %s" % (path, number, text))
    names = [fact.name.lower() for fact in facts]
    if len(set(names)) != len(names):
        raise ValueError("%s: a name stands twice (the registry does not tell case apart)" % path)
    return facts
