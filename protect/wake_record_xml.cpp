#include "protect/wake_record_xml.h"

#include <cwchar>

namespace {

bool StartsWith(const wchar_t* text, const wchar_t* prefix) { return wcsncmp(text, prefix, wcslen(prefix)) == 0; }

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

const wchar_t* SkipSpaces(const wchar_t* p) {
    while (IsSpace(*p)) ++p;
    return p;
}

// Appends one character; false once `out` is full. A null `out` takes everything: the text of
// an element passed over is walked, not kept.
bool Append(wchar_t* out, int chars, int* length, wchar_t c) {
    if (!out) return true;
    if (*length >= chars - 1) return false;
    out[(*length)++] = c;
    return true;
}

// A character reference's value (&#65; &#x41;), after "&#"; `p` is moved past its ';'. False
// for anything but 1 to 8 digits naming a character other than NUL.
bool ReadCharacterReference(const wchar_t** p, unsigned long* value) {
    bool hex = **p == L'x';
    if (hex) ++*p;
    const wchar_t* digits = *p;
    unsigned long result = 0;
    while (**p != L';') {
        wchar_t c = **p;
        unsigned digit;
        if (c >= L'0' && c <= L'9') digit = c - L'0';
        else if (hex && c >= L'a' && c <= L'f') digit = c - L'a' + 10;
        else if (hex && c >= L'A' && c <= L'F') digit = c - L'A' + 10;
        else return false;
        if (*p - digits >= 8) return false;
        result = result * (hex ? 16 : 10) + digit;
        ++*p;
    }
    if (*p == digits || result == 0 || result > 0x10FFFF || (result >= 0xD800 && result <= 0xDFFF)) return false;
    ++*p;
    *value = result;
    return true;
}

// An entity or character reference, after its '&', appended as UTF-16; `p` is moved past it.
bool AppendReference(const wchar_t** p, wchar_t* out, int chars, int* length) {
    struct Entity {
        const wchar_t* name;
        wchar_t value;
    };
    static const Entity kEntities[] = {{L"amp;", L'&'}, {L"lt;", L'<'}, {L"gt;", L'>'}, {L"quot;", L'"'},
                                       {L"apos;", L'\''}};
    for (const Entity& entity : kEntities) {
        if (StartsWith(*p, entity.name)) {
            *p += wcslen(entity.name);
            return Append(out, chars, length, entity.value);
        }
    }
    if (**p != L'#') return false;
    ++*p;
    unsigned long code = 0;
    if (!ReadCharacterReference(p, &code)) return false;
    if (code < 0x10000) return Append(out, chars, length, static_cast<wchar_t>(code));
    code -= 0x10000;
    return Append(out, chars, length, static_cast<wchar_t>(0xD800 + (code >> 10))) &&
           Append(out, chars, length, static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
}

// An element's text up to `closing`, resolved into `out` (or only walked, for a null `out`);
// *end is set past `closing`. False when it holds another element, a stray '&' or '<', or
// ends before `closing`.
bool ReadText(const wchar_t* p, const wchar_t* closing, wchar_t* out, int chars, const wchar_t** end) {
    int length = 0;
    for (;;) {
        if (*p == L'\0') return false;
        if (StartsWith(p, closing)) break;
        if (StartsWith(p, L"<![CDATA[")) {
            const wchar_t* sectionEnd = wcsstr(p + 9, L"]]>");
            if (!sectionEnd) return false;
            for (p += 9; p < sectionEnd; ++p)
                if (!Append(out, chars, &length, *p)) return false;
            p += 3;
        } else if (*p == L'<') {
            return false;
        } else if (*p == L'&') {
            ++p;
            if (!AppendReference(&p, out, chars, &length)) return false;
        } else if (!Append(out, chars, &length, *p++)) {
            return false;
        }
    }
    if (out) out[length] = L'\0';
    if (end) *end = p + wcslen(closing);
    return true;
}

// An attribute's value in either quote, after its '='; `p` is moved past the closing quote.
bool ReadAttributeValue(const wchar_t** p, wchar_t* out, int chars) {
    wchar_t quote = **p;
    if (quote != L'"' && quote != L'\'') return false;
    const wchar_t* end = wcschr(*p + 1, quote);
    if (!end) return false;
    int length = 0;
    for (const wchar_t* c = *p + 1; c < end; ++c)
        if (*c == L'<' || *c == L'&' || !Append(out, chars, &length, *c)) return false;
    out[length] = L'\0';
    *p = end + 1;
    return true;
}

enum class DataElement { Field, Other, Malformed };

// The <Data ...> tag at `p` (after "<Data"): whether its Name is `field`, with `p` moved past
// the tag; *empty tells a tag closed by "/>". Other attributes are passed over.
DataElement ReadDataTag(const wchar_t** p, const wchar_t* field, bool* empty) {
    bool named = false;
    for (;;) {
        const wchar_t* q = SkipSpaces(*p);
        if (StartsWith(q, L"/>") || *q == L'>') {
            *empty = *q == L'/';
            *p = q + (*empty ? 2 : 1);
            return named ? DataElement::Field : DataElement::Other;
        }
        if (q == *p) return DataElement::Malformed;  // attributes are separated by blanks
        const wchar_t* name = q;
        while (*q && *q != L'=' && !IsSpace(*q) && *q != L'>' && *q != L'/') ++q;
        size_t nameLength = static_cast<size_t>(q - name);
        q = SkipSpaces(q);
        if (nameLength == 0 || *q != L'=') return DataElement::Malformed;
        q = SkipSpaces(q + 1);
        wchar_t value[64];
        if (!ReadAttributeValue(&q, value, 64)) {
            // A value too long for a field's name is no field Kalnix reads; its quotes still close.
            wchar_t quote = *q;
            const wchar_t* end = (quote == L'"' || quote == L'\'') ? wcschr(q + 1, quote) : nullptr;
            if (!end) return DataElement::Malformed;
            q = end + 1;
            value[0] = L'\0';
        }
        if (nameLength == 4 && wcsncmp(name, L"Name", 4) == 0) named = wcscmp(value, field) == 0;
        *p = q;
    }
}

bool ParseNumber(const wchar_t* text, DWORD* value) {
    if (*text == L'\0') return false;
    unsigned long long result = 0;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9' || c - text >= 10) return false;
        result = result * 10 + static_cast<unsigned>(*c - L'0');
    }
    if (result > 0xFFFFFFFFull) return false;
    *value = static_cast<DWORD>(result);
    return true;
}

}  // namespace

bool ReadEventData(const wchar_t* xml, const wchar_t* field, wchar_t* out, int chars) {
    if (chars <= 0) return false;
    out[0] = L'\0';
    for (const wchar_t* p = wcsstr(xml, L"<Data"); p; p = wcsstr(p, L"<Data")) {
        p += 5;
        if (!IsSpace(*p) && *p != L'>' && *p != L'/') continue;  // <DataItem>, not <Data>
        bool empty = false;
        DataElement element = ReadDataTag(&p, field, &empty);
        if (element == DataElement::Malformed) return false;
        // Another field's text is walked, so that nothing inside it passes for a field.
        if (element == DataElement::Other && !empty && !ReadText(p, L"</Data>", nullptr, 0, &p)) return false;
        if (element == DataElement::Other) continue;
        if (empty) return true;
        if (ReadText(p, L"</Data>", out, chars, nullptr)) return true;
        out[0] = L'\0';
        return false;
    }
    return false;
}

bool ReadEventNumber(const wchar_t* xml, const wchar_t* field, DWORD* value) {
    wchar_t text[16];
    return ReadEventData(xml, field, text, 16) && ParseNumber(text, value);
}

bool ReadEventId(const wchar_t* xml, DWORD* id) {
    const wchar_t* p = wcsstr(xml, L"<EventID");
    if (!p) return false;
    p += 8;
    if (*p != L'>' && !IsSpace(*p)) return false;
    p = wcschr(p, L'>');  // past Qualifiers='...'
    if (!p || p[-1] == L'/') return false;
    wchar_t text[16];
    return ReadText(p + 1, L"</EventID>", text, 16, nullptr) && ParseNumber(text, id);
}
