#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "common/face_link.h"

namespace {

std::vector<BYTE> Bytes(const LinkMessage& message, UINT32 size) {
    std::vector<BYTE> bytes(size);
    memcpy(bytes.data(), &message, size < sizeof(message) ? size : sizeof(message));
    return bytes;
}

bool Reads(const std::vector<BYTE>& bytes, LinkSender sender, LinkMessage* out = nullptr) {
    LinkMessage message;
    const wchar_t* why = nullptr;
    bool read = ReadLinkMessage(bytes.data(), static_cast<DWORD>(bytes.size()), sender, &message, &why);
    EXPECT_EQ(read, why == nullptr);
    if (out) *out = message;
    return read;
}

TEST(FaceLinkTest, EachKindReadsBackAsWrittenFromItsOwnSenderOnly) {
    const LinkMessage fromFace[] = {MakeLinkMessage(LinkKind::Hello),
                                    MakeFlagMessage(LinkKind::PersonInput, 2),
                                    MakeFlagMessage(LinkKind::Displays, 1),
                                    MakeFlagMessage(LinkKind::DisplayOffDone, 1)};
    for (const LinkMessage& m : fromFace) {
        EXPECT_TRUE(Reads(Bytes(m, m.header.size), LinkSender::Face)) << m.header.kind;
        EXPECT_FALSE(Reads(Bytes(m, m.header.size), LinkSender::Service)) << m.header.kind;
    }
    LinkMessage balloon = MakeBalloonMessage(L"Kalnix put the laptop back to sleep", true);
    LinkMessage read;
    ASSERT_TRUE(Reads(Bytes(balloon, balloon.header.size), LinkSender::Service, &read));
    EXPECT_STREQ(read.balloon.text, L"Kalnix put the laptop back to sleep");
}

// A face may say who it is and what it saw, nothing else: no kind it can send names a setting, a
// path or a power value, or starts anything. Every kind number, at every size a message has,
// with a body of zeros or a small flag.
TEST(FaceLinkTest, AFaceCanSendOnlyItsHelloAndItsThreeReports) {
    const UINT16 faceKinds[] = {static_cast<UINT16>(LinkKind::Hello), static_cast<UINT16>(LinkKind::PersonInput),
                                static_cast<UINT16>(LinkKind::Displays),
                                static_cast<UINT16>(LinkKind::DisplayOffDone)};
    std::vector<UINT32> sizes = {sizeof(LinkHeader), sizeof(LinkMessage)};
    for (UINT16 kind = 1; kind < 400; ++kind)
        if (UINT32 size = LinkMessageSize(static_cast<LinkKind>(kind))) sizes.push_back(size);
    for (UINT32 kind = 0; kind <= 0xFFFF; ++kind) {
        bool mayBeSent = std::find(std::begin(faceKinds), std::end(faceKinds), kind) != std::end(faceKinds);
        bool read = false;
        for (UINT32 size : sizes) {
            for (UINT32 flag : {0u, 1u, 2u}) {
                LinkMessage message = {};
                message.header = {size, static_cast<UINT16>(kind), kLinkVersion};
                message.flag = flag;
                read = read || Reads(Bytes(message, size), LinkSender::Face);
            }
        }
        if (read != mayBeSent) ADD_FAILURE() << "kind " << kind << (read ? " is read from a face" : " is refused");
    }
}

TEST(FaceLinkTest, SizesVersionsAndFieldsOutOfTheirRulesAreRefused) {
    LinkMessage input = MakeFlagMessage(LinkKind::PersonInput, 1);
    UINT32 size = input.header.size;
    EXPECT_FALSE(Reads(Bytes(input, size - 1), LinkSender::Face));  // one short
    EXPECT_FALSE(Reads(Bytes(input, size + 4), LinkSender::Face));  // one field too many
    EXPECT_FALSE(Reads(Bytes(input, 7), LinkSender::Face));         // not even a header
    LinkMessage lying = input;
    lying.header.size = size + 4;
    EXPECT_FALSE(Reads(Bytes(lying, size), LinkSender::Face));
    LinkMessage later = input;
    later.header.version = kLinkVersion + 1;
    EXPECT_FALSE(Reads(Bytes(later, size), LinkSender::Face));
    LinkMessage unknown = input;
    unknown.header.kind = 77;
    EXPECT_FALSE(Reads(Bytes(unknown, size), LinkSender::Face));
    EXPECT_FALSE(Reads(Bytes(MakeFlagMessage(LinkKind::PersonInput, 3), size), LinkSender::Face));
    EXPECT_FALSE(Reads(Bytes(MakeFlagMessage(LinkKind::Displays, 3), size), LinkSender::Face));
    LinkMessage tone = MakeToneMessage(2000, 200);
    EXPECT_TRUE(Reads(Bytes(tone, tone.header.size), LinkSender::Service));
    EXPECT_FALSE(Reads(Bytes(MakeToneMessage(36, 200), tone.header.size), LinkSender::Service));
    EXPECT_FALSE(Reads(Bytes(MakeToneMessage(2000, kLinkLongestToneMs + 1), tone.header.size), LinkSender::Service));
    LinkMessage state = MakeLinkMessage(LinkKind::State);
    state.state.note = 9;
    EXPECT_FALSE(Reads(Bytes(state, state.header.size), LinkSender::Service));
}

TEST(FaceLinkTest, ABalloonIsCutToFitAndANotTerminatedTextIsRefused) {
    std::wstring longText(400, L'x');
    LinkMessage cut = MakeBalloonMessage(longText.c_str(), false);
    EXPECT_EQ(wcslen(cut.balloon.text), static_cast<size_t>(kLinkTextChars - 1));
    LinkMessage unterminated = cut;
    wmemset(unterminated.balloon.text, L'y', kLinkTextChars);
    EXPECT_FALSE(Reads(Bytes(unterminated, unterminated.header.size), LinkSender::Service));
    EXPECT_TRUE(Reads(Bytes(cut, cut.header.size), LinkSender::Service));
}

}  // namespace
