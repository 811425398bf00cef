#include "app/range_message.h"

#include "common/bounded_format.h"

void ShowRangeMessage(HWND dialog, const SettingFact& fact) {
    wchar_t text[160];
    FormatBounded(text, ARRAYSIZE(text), L"Possible values%ls%ls are between %lu and %lu %ls",
                  fact.rangeAbout[0] ? L" for " : L"", fact.rangeAbout, static_cast<unsigned long>(fact.dialogLeast),
                  static_cast<unsigned long>(fact.dialogMost), fact.unit);
    MessageBoxW(dialog, text, L"Kalnix", MB_OK);
}
