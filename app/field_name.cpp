#include "app/field_name.h"

#include "common/accessible_role.h"
#include "common/bounded_format.h"

namespace {

constexpr int kTextChars = 128;

// A control's text as a screen reader says it: "&&" is a "&", a single "&" marks the access key.
void SpokenText(HWND dialog, int id, wchar_t* text, int chars) {
    wchar_t shown[kTextChars] = {};
    GetDlgItemTextW(dialog, id, shown, kTextChars);
    int out = 0;
    for (const wchar_t* c = shown; *c && out < chars - 1; ++c) {
        if (*c == L'&' && *++c == L'\0') break;
        text[out++] = *c;
    }
    text[out] = L'\0';
}

}  // namespace

void NameFieldAfterItsLine(HWND dialog, int fieldId, int leadId, int unitId) {
    wchar_t lead[kTextChars], unit[kTextChars], name[2 * kTextChars + 4];
    SpokenText(dialog, leadId, lead, kTextChars);
    SpokenText(dialog, unitId, unit, kTextChars);
    FormatBounded(name, ARRAYSIZE(name), L"%ls (%ls)", lead, unit);
    AnnotateName(GetDlgItem(dialog, fieldId), name);
}

void ForgetFieldName(HWND dialog, int fieldId) { ClearNameAnnotation(GetDlgItem(dialog, fieldId)); }
