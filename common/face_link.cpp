#include "common/face_link.h"

#include <cstddef>
#include <cstring>
#include <cwchar>

namespace {

constexpr UINT32 kHeaderBytes = sizeof(LinkHeader);
constexpr UINT32 kBodyOffset = offsetof(LinkMessage, flag);
static_assert(kBodyOffset == kHeaderBytes, "the body follows the header");
static_assert(sizeof(LinkMessage) <= kLinkMaxMessageBytes, "every message fits a read");

bool SentBy(LinkKind kind, LinkSender sender) {
    bool fromFace = static_cast<UINT16>(kind) < static_cast<UINT16>(LinkKind::Welcome);
    return fromFace == (sender == LinkSender::Face);
}

bool ValidState(const LinkState& state) {
    return state.protecting <= 1 && state.note <= static_cast<UINT32>(LinkNote::NotRunning);
}

bool Terminated(const wchar_t* text, int chars) { return wmemchr(text, L'\0', chars) != nullptr; }

// The body's own rules, once its size is known to be right.
const wchar_t* BodyFault(const LinkMessage& m) {
    switch (static_cast<LinkKind>(m.header.kind)) {
    case LinkKind::Hello:
    case LinkKind::TurnDisplayOff:
        return nullptr;
    case LinkKind::PersonInput:
        return m.flag == static_cast<UINT32>(LinkInputSource::Device) ||
                       m.flag == static_cast<UINT32>(LinkInputSource::Injected)
                   ? nullptr
                   : L"unknown input source";
    case LinkKind::Displays:
        return m.flag <= static_cast<UINT32>(LinkDisplays::Unreadable) ? nullptr : L"unknown display layout";
    case LinkKind::DisplayOffDone:
    case LinkKind::WatchInput:
        return m.flag <= 1 ? nullptr : L"a flag that is neither 0 nor 1";
    case LinkKind::Tone:
        return m.tone.hz >= 37 && m.tone.hz <= 32767 && m.tone.ms <= kLinkLongestToneMs ? nullptr : L"a tone out of range";
    case LinkKind::Welcome:
        return m.welcome.console <= 1 && ValidState(m.welcome.state) ? nullptr : L"a state out of range";
    case LinkKind::Refused:
        return m.refusal == static_cast<UINT32>(LinkRefusal::FaceInSession) ||
                       m.refusal == static_cast<UINT32>(LinkRefusal::Version)
                   ? nullptr
                   : L"unknown refusal";
    case LinkKind::State:
        return ValidState(m.state) ? nullptr : L"a state out of range";
    case LinkKind::Balloon:
        if (m.balloon.respectQuietTime > 1 || m.balloon.offersWakeAction > 1) return L"a flag that is neither 0 nor 1";
        return Terminated(m.balloon.text, kLinkTextChars) ? nullptr : L"an unterminated text";
    }
    return L"unknown kind";
}

}  // namespace

UINT32 LinkMessageSize(LinkKind kind) {
    switch (kind) {
    case LinkKind::Hello:
    case LinkKind::TurnDisplayOff:
        return kHeaderBytes;
    case LinkKind::PersonInput:
    case LinkKind::Displays:
    case LinkKind::DisplayOffDone:
    case LinkKind::WatchInput:
    case LinkKind::Refused:
        return kHeaderBytes + sizeof(UINT32);
    case LinkKind::Tone:
        return kHeaderBytes + 2 * sizeof(UINT32);
    case LinkKind::Welcome:
        return kHeaderBytes + sizeof(UINT32) + sizeof(LinkState);
    case LinkKind::State:
        return kHeaderBytes + sizeof(LinkState);
    case LinkKind::Balloon:
        return kHeaderBytes + 2 * sizeof(UINT32) + kLinkTextChars * sizeof(wchar_t);
    }
    return 0;
}

LinkMessage MakeLinkMessage(LinkKind kind) {
    LinkMessage message;
    memset(&message, 0, sizeof(message));
    message.header.size = LinkMessageSize(kind);
    message.header.kind = static_cast<UINT16>(kind);
    message.header.version = kLinkVersion;
    return message;
}

LinkMessage MakeFlagMessage(LinkKind kind, UINT32 flag) {
    LinkMessage message = MakeLinkMessage(kind);
    message.flag = flag;
    return message;
}

LinkMessage MakeBalloonMessage(const wchar_t* text, bool respectQuietTime, bool offersWakeAction) {
    LinkMessage message = MakeLinkMessage(LinkKind::Balloon);
    message.balloon.respectQuietTime = respectQuietTime ? 1 : 0;
    message.balloon.offersWakeAction = offersWakeAction ? 1 : 0;
    // Cut to fit, always terminated.
    size_t length = text ? wcsnlen(text, kLinkTextChars - 1) : 0;
    if (length) wmemcpy(message.balloon.text, text, length);
    message.balloon.text[length] = L'\0';
    return message;
}

LinkMessage MakeToneMessage(DWORD hz, DWORD ms) {
    LinkMessage message = MakeLinkMessage(LinkKind::Tone);
    message.tone.hz = hz;
    message.tone.ms = ms;
    return message;
}

bool ReadLinkMessage(const BYTE* bytes, DWORD size, LinkSender sender, LinkMessage* message, const wchar_t** why) {
    *why = nullptr;
    if (!bytes || size < kHeaderBytes) {
        *why = L"shorter than a header";
        return false;
    }
    LinkHeader header;
    memcpy(&header, bytes, kHeaderBytes);
    LinkKind kind = static_cast<LinkKind>(header.kind);
    UINT32 expected = LinkMessageSize(kind);
    if (expected == 0) *why = L"unknown kind";
    else if (!SentBy(kind, sender)) *why = L"a kind the sender may not send";
    else if (header.version != kLinkVersion) *why = L"another version";
    else if (header.size != size || size != expected) *why = L"a size that is not its kind's";
    if (*why) return false;
    memset(message, 0, sizeof(*message));
    memcpy(message, bytes, size);
    *why = BodyFault(*message);
    return *why == nullptr;
}
