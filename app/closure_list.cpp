#include "app/closure_list.h"

#include <commctrl.h>

#include <cwchar>

#include "app/list_columns.h"
#include "common/bounded_format.h"

namespace {

// The stamp "YYYY-MM-DD HH:MM" and the two spaces after it.
constexpr wchar_t kStampShape[] = L"0000-00-00 00:00  ";
constexpr int kStampChars = ARRAYSIZE(kStampShape) - 1;
// The record keeps at most this many characters of a cause, and of a whole line: a text that
// reaches either limit may have been cut there (one that happens to be exactly as long is
// marked too, as the record cannot tell).
constexpr size_t kCauseLimit = 95;
constexpr size_t kLineLimit = kClosureLineChars - 1;

constexpr wchar_t kRestPrefix[] = L"Put to rest by Kalnix (";
constexpr wchar_t kRestCause[] = L" s: ";
constexpr wchar_t kNoCause[] = L", no cause found";
constexpr wchar_t kDrain[] = L"; the standby used ";
constexpr wchar_t kWoken[] = L"; woken ";

bool ParseStamp(const wchar_t* line, SYSTEMTIME* time) {
    for (int i = 0; i < kStampChars; ++i) {
        bool digit = line[i] >= L'0' && line[i] <= L'9';
        if (kStampShape[i] == L'0' ? !digit : line[i] != kStampShape[i]) return false;
    }
    auto number = [&](int at, int digits) {
        WORD value = 0;
        for (int i = 0; i < digits; ++i) value = static_cast<WORD>(value * 10 + (line[at + i] - L'0'));
        return value;
    };
    *time = {};
    time->wYear = number(0, 4);
    time->wMonth = number(5, 2);
    time->wDay = number(8, 2);
    time->wHour = number(11, 2);
    time->wMinute = number(14, 2);
    return true;
}

// The user's short date and time without seconds; false for a stamp that is no date.
bool FormatLocalTime(const SYSTEMTIME& time, wchar_t* text, int chars) {
    int date = GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, text, chars, nullptr);
    if (date <= 0 || date >= chars) return false;
    text[date - 1] = L' ';
    return GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &time, nullptr, text + date, chars - date) > 0;
}

// Copies `length` characters of `from` into `to`, with "…" after them when `cut`.
template <size_t N>
void Column(wchar_t (&to)[N], const wchar_t* from, size_t length, bool cut) {
    FormatBounded(to, N, L"%.*ls%ls", static_cast<int>(length), from, cut ? L"\u2026" : L"");
}

void AddRow(HWND list, int row, const ClosureColumns& columns) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(columns.time);
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    const wchar_t* const texts[] = {columns.happened, columns.cause};
    for (int sub = 1; sub <= 2; ++sub) {
        item.iSubItem = sub;
        item.pszText = const_cast<wchar_t*>(texts[sub - 1]);
        SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    }
}

}  // namespace

void SplitClosureLine(const wchar_t* line, ClosureColumns* columns) {
    *columns = {};
    const size_t lineLength = wcslen(line);
    // A cut line ends in the middle of its last part.
    const bool lineCut = lineLength >= kLineLimit;
    SYSTEMTIME time;
    if (!ParseStamp(line, &time) || !FormatLocalTime(time, columns->time, ARRAYSIZE(columns->time))) {
        columns->time[0] = L'\0';
        Column(columns->happened, line, lineLength, lineCut);
        return;
    }
    const wchar_t* body = line + kStampChars;
    // The wakes and the drain come last, after any cause, and belong to what happened.
    const wchar_t* drain = nullptr;
    for (const wchar_t* at = wcsstr(body, kDrain); at; at = wcsstr(at + 1, kDrain)) drain = at;
    const wchar_t* wakes = wcsstr(body, kWoken);
    if (drain && wakes > drain) wakes = nullptr;
    const wchar_t* tail = wakes ? wakes : drain;
    const wchar_t* outcomeEnd = tail ? tail : line + lineLength;
    const wchar_t* cause = nullptr;
    if (wcsncmp(body, kRestPrefix, ARRAYSIZE(kRestPrefix) - 1) == 0) {
        const wchar_t* colon = wcsstr(body, kRestCause);
        if (colon && colon < outcomeEnd) cause = colon + ARRAYSIZE(kRestCause) - 1;
    }
    const wchar_t* happenedEnd = cause ? cause - 2 : outcomeEnd;  // without the ": " before the cause
    const size_t noCause = ARRAYSIZE(kNoCause) - 1;
    if (cause) {
        const size_t length = static_cast<size_t>(outcomeEnd - cause);
        Column(columns->cause, cause, length, length >= kCauseLimit || (lineCut && !tail));
    } else if (static_cast<size_t>(outcomeEnd - body) > noCause && wcsncmp(outcomeEnd - noCause, kNoCause, noCause) == 0) {
        happenedEnd = outcomeEnd - noCause;
        FormatBounded(columns->cause, ARRAYSIZE(columns->cause), L"none found");
    }
    FormatBounded(columns->happened, ARRAYSIZE(columns->happened), L"%.*ls%ls%ls", static_cast<int>(happenedEnd - body),
                  body, tail ? tail : L"", lineCut && (tail || !cause) ? L"\u2026" : L"");
}

void ShowClosureList(HWND list, const ClosureLines& record) {
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP,
                 LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP);
    // The three widths fill the list's 390 dialog units, room left for a scroll bar.
    AddListColumn(list, 0, L"Time", 72);
    AddListColumn(list, 1, L"What happened", 166);
    AddListColumn(list, 2, L"Cause", 140);
    if (record.count == 0) {
        ClosureColumns none = {};
        FormatBounded(none.happened, ARRAYSIZE(none.happened), L"No lid closure seen yet.");
        AddRow(list, 0, none);
        return;
    }
    for (int i = 0; i < record.count; ++i) {
        ClosureColumns columns;
        SplitClosureLine(record.lines[i], &columns);
        AddRow(list, i, columns);
    }
}
