#include "protect/last_wake_output.h"

#include <cwchar>

#include "common/bounded_format.h"

namespace {

constexpr int kMaxFields = 8;
constexpr int kMaxFieldChars = kWakeDetailChars;

struct Line {
    const wchar_t* start;
    int length;
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; }

// The next line of `*text`, its blanks trimmed; `*text` is moved past it. False at the end.
bool NextLine(const wchar_t** text, Line* line) {
    if (**text == L'\0') return false;
    const wchar_t* end = wcschr(*text, L'\n');
    const wchar_t* stop = end ? end : *text + wcslen(*text);
    const wchar_t* start = *text;
    while (start < stop && IsBlank(*start)) ++start;
    while (stop > start && IsBlank(stop[-1])) --stop;
    *line = {start, static_cast<int>(stop - start)};
    *text = end ? end + 1 : *text + wcslen(*text);
    return true;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool HasColon(const Line& line) { return wmemchr(line.start, L':', static_cast<size_t>(line.length)) != nullptr; }

// "Wake Source Count - 1" in any language: the number after the line's last " - ", on a line
// that is no "key: value" ("Description: ... Host Controller - 2" is one).
bool CountOf(const Line& line, int* count) {
    if (HasColon(line)) return false;
    int i = line.length;
    while (i > 0 && IsDigit(line.start[i - 1])) --i;
    if (i == line.length || line.length - i > 6 || i < 3 || wcsncmp(line.start + i - 3, L" - ", 3) != 0) return false;
    *count = 0;
    for (int j = i; j < line.length; ++j) *count = *count * 10 + (line.start[j] - L'0');
    return true;
}

// "Wake Source [0]" in any language: a line that is no "key: value" ends in a bracketed number.
bool IsEntry(const Line& line) {
    if (line.length < 3 || line.start[line.length - 1] != L']' || HasColon(line)) return false;
    int i = line.length - 1;
    while (i > 0 && IsDigit(line.start[i - 1])) --i;
    return i < line.length - 1 && i > 0 && line.start[i - 1] == L'[';
}

struct WakeSourceBlock {
    int fieldCount;
    wchar_t values[kMaxFields][kMaxFieldChars];  // of the "key: value" lines, in order
    wchar_t otherText[kMaxFieldChars];           // the other lines, joined by blanks
};

void AddLine(const Line& line, WakeSourceBlock* block) {
    const wchar_t* colon = wmemchr(line.start, L':', static_cast<size_t>(line.length));
    if (colon && block->fieldCount < kMaxFields) {
        const wchar_t* value = colon + 1;
        int length = line.length - static_cast<int>(value - line.start);
        while (length > 0 && IsBlank(*value)) ++value, --length;
        FormatBounded(block->values[block->fieldCount++], kMaxFieldChars, L"%.*ls", length, value);
    } else if (!colon) {
        size_t used = wcslen(block->otherText);
        FormatBounded(block->otherText + used, kMaxFieldChars - static_cast<int>(used), L"%ls%.*ls", used ? L" " : L"",
                      line.length, line.start);
    }
}

// The lines of the first wake source: after the second count, when it is not zero, and the
// entry line that follows it, up to the next count or entry. False when there is none.
bool FindFirstSource(const wchar_t* text, WakeSourceBlock* block) {
    Line line;
    int counts = 0, count = 0;
    bool inSource = false;
    while (NextLine(&text, &line)) {
        if (line.length == 0) continue;
        bool isCount = CountOf(line, &count);
        if (inSource) {
            if (isCount || IsEntry(line)) break;
            AddLine(line, block);
        } else if (isCount && ++counts == 2 && count == 0) {
            return false;
        } else if (counts == 2 && IsEntry(line)) {
            inSource = true;
        }
    }
    return inSource && (block->fieldCount > 0 || block->otherText[0]);
}

bool IsOwnerTag(const wchar_t* value) {
    return wcsncmp(value, L"[SERVICE]", 9) == 0 || wcsncmp(value, L"[PROCESS]", 9) == 0 ||
           wcsncmp(value, L"[DRIVER]", 8) == 0;
}

// "PCI\VEN_8086&DEV_27C8...", "USB\ROOT_HUB20\4&282dcf3f&0", "ACPI\PNP0C0D\2&daba3ff&1": an
// enumerator of capitals, digits and underscores, a backslash, and no blank in the path.
bool IsInstancePath(const wchar_t* value) {
    const wchar_t* slash = wcschr(value, L'\\');
    if (!slash || slash == value || wcschr(value, L' ')) return false;
    for (const wchar_t* c = value; c < slash; ++c)
        if (!((*c >= L'A' && *c <= L'Z') || IsDigit(*c) || *c == L'_')) return false;
    return slash[1] != L'\0';
}

}  // namespace

bool NameLastWake(const wchar_t* text, WakeSource* out) {
    WakeSourceBlock block = {};
    if (!text || !FindFirstSource(text, &block)) {
        NameUnknown(nullptr, out);
        return false;
    }
    for (int i = 1; i < block.fieldCount; ++i) {
        if (!IsOwnerTag(block.values[i])) continue;
        NameWakeTimer(block.values[i], i + 1 < block.fieldCount ? block.values[i + 1] : L"", out);
        return true;
    }
    if (block.fieldCount >= 2 && IsInstancePath(block.values[1])) {
        // Friendly name where the device has one, else its description.
        const wchar_t* shown = block.fieldCount >= 3 && block.values[2][0] ? block.values[2]
                               : block.fieldCount >= 4                     ? block.values[3]
                                                                           : L"";
        NameDevice(block.values[1], shown, out);
        return true;
    }
    wchar_t kept[kWakeNameChars];
    FormatBounded(kept, kWakeNameChars, L"%ls%ls%ls", block.fieldCount ? block.values[0] : L"",
                  block.fieldCount && block.otherText[0] ? L" " : L"", block.otherText);
    NameUnknown(kept, out);
    return true;
}
