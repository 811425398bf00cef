#pragma once

#include <windows.h>

#include <cstddef>

// Everything about the values of the settings key, from the one table that holds it
// (common/setting_table.def): the code names a value by its SettingId and takes its first
// value, range and the rest from its SettingFact. The setup script, the policy template and
// the README are generated or checked from the same file.

enum class SettingKind {
    Setting,  // an administrator's choice
    Record,   // Kalnix's own record, deleted at removal with the settings
    Saved,    // a user's value saved to be put back, kept at removal while it cannot be
};
enum class SettingType { Dword, MultiString, Binary };
enum class SettingForm { Switch, Choice, Number, Raw };
enum class SettingPolicy { Policy, NoPolicy };
enum class SettingRead { AtStart, EachUse };
enum class SettingDialog { NoDialog, SettingsDialog, MoreSettings };

struct SettingFact {
    const wchar_t* name;
    SettingKind kind;
    SettingType type;
    SettingForm form;
    bool hasFirstValue;  // a new installation writes firstValue
    DWORD firstValue;
    DWORD least, most;   // what a policy or an install option may set
    SettingPolicy policy;
    SettingRead read;
    const wchar_t* option;  // the install option and package property, "" for none
    SettingDialog dialog;
    DWORD dialogLeast, dialogMost;  // what the dialog takes as typed
    const wchar_t* rangeAbout;      // the range message's subject, "" for none
    const wchar_t* unit;
};

enum class SettingId {
#define KALNIX_SETTING(name, ...) name,
#define KALNIX_RECORD(name, type) name,
#define KALNIX_SAVED(name, type) name,
#include "common/setting_table.def"
#undef KALNIX_SETTING
#undef KALNIX_RECORD
#undef KALNIX_SAVED
};

// The first-value column: First(n) or NoFirst, as the two fields hasFirstValue, firstValue.
#define First(value) true, value
#define NoFirst false, 0
inline constexpr SettingFact kSettingFacts[] = {
#define KALNIX_SETTING(name, form, first, least, most, policy, read, option, dialog, dialogLeast, dialogMost, about, \
                       unit)                                                                                        \
    {L"" #name, SettingKind::Setting, SettingType::Dword, SettingForm::form, first, least, most,                     \
     SettingPolicy::policy, SettingRead::read, L"" option, SettingDialog::dialog, dialogLeast, dialogMost,           \
     L"" about, L"" unit},
#define KALNIX_RECORD(name, type)                                                                                 \
    {L"" #name, SettingKind::Record, SettingType::type, SettingForm::Raw, false, 0, 0, 0, SettingPolicy::NoPolicy, \
     SettingRead::EachUse, L"", SettingDialog::NoDialog, 0, 0, L"", L""},
#define KALNIX_SAVED(name, type)                                                                                 \
    {L"" #name, SettingKind::Saved, SettingType::type, SettingForm::Raw, false, 0, 0, 0, SettingPolicy::NoPolicy, \
     SettingRead::EachUse, L"", SettingDialog::NoDialog, 0, 0, L"", L""},
#include "common/setting_table.def"
#undef KALNIX_SETTING
#undef KALNIX_RECORD
#undef KALNIX_SAVED
};
#undef First
#undef NoFirst

constexpr size_t kSettingCount = sizeof(kSettingFacts) / sizeof(kSettingFacts[0]);

constexpr const SettingFact& SettingFactOf(SettingId id) { return kSettingFacts[static_cast<size_t>(id)]; }
constexpr const wchar_t* SettingName(SettingId id) { return SettingFactOf(id).name; }

// Removal deletes the settings and the record; saved values go back where they came from.
constexpr bool DeletedAtRemoval(const SettingFact& fact) { return fact.kind != SettingKind::Saved; }

// A first value and a dialog's range lie inside what a policy may set, a switch is 0 or 1,
// and the value More settings offers when its box is checked is one it accepts.
constexpr bool SettingFactIsSound(const SettingFact& fact) {
    if (fact.kind != SettingKind::Setting) return true;
    if (fact.least > fact.most) return false;
    if (fact.form == SettingForm::Switch && (fact.least != 0 || fact.most != 1)) return false;
    if (fact.hasFirstValue && (fact.firstValue < fact.least || fact.firstValue > fact.most)) return false;
    if (fact.dialogLeast > fact.dialogMost || fact.dialogLeast < fact.least || fact.dialogMost > fact.most)
        return false;
    if (fact.form == SettingForm::Number && fact.dialog != SettingDialog::NoDialog && fact.hasFirstValue &&
        (fact.firstValue < fact.dialogLeast || fact.firstValue > fact.dialogMost))
        return false;
    return true;
}

constexpr bool SettingTableIsSound() {
    for (const SettingFact& fact : kSettingFacts) {
        if (!SettingFactIsSound(fact)) return false;
    }
    return true;
}
static_assert(SettingTableIsSound(), "a setting's first value or dialog range lies outside its range");
