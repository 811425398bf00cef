// What woke the laptop, named from records that people posted (tests/data/wake/SOURCES.md).
// The System log comes through the platform seam, since Wine's keeps no power events; a real
// command interpreter prints a posted powercfg output in the tool's place.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

#include "common/seam_events.h"
#include "common/seam_power.h"
#include "common/system_events.h"
#include "protect/last_wake_output.h"
#include "protect/wake_record_xml.h"
#include "protect/wake_source.h"
#include "support/platform_scope.h"
#include "support/test_support.h"

namespace {

std::wstring RecordPath(const char* file) {
    return std::wstring(KALNIX_SOURCE_DIR_W) + L"\\tests\\data\\wake\\" + std::wstring(file, file + strlen(file));
}

std::wstring ReadRecord(const char* file) {
    std::string bytes = ReadFileBytes(RecordPath(file));
    std::wstring text(bytes.size(), L'\0');
    int chars = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                    static_cast<int>(text.size()));
    text.resize(chars > 0 ? chars : 0);
    return text;
}

// The posted friendly view lists a field per line, "Name value"; the event log renders the
// same fields as <Data Name="Name">value</Data>, which is what Kalnix reads.
std::wstring ResumeEventXml(const std::wstring& posted) {
    std::wstring xml = L"<Event xmlns='http://schemas.microsoft.com/win/2004/08/events/event'><System>"
                       L"<Provider Name='Microsoft-Windows-Power-Troubleshooter'/><EventID>1</EventID>"
                       L"</System><EventData>";
    size_t fields = posted.find(L"\nSleepTime ");
    for (size_t at = fields + 1; fields != std::wstring::npos && at < posted.size();) {
        size_t end = posted.find(L'\n', at);
        std::wstring line = posted.substr(at, end == std::wstring::npos ? std::wstring::npos : end - at);
        at = end == std::wstring::npos ? posted.size() : end + 1;
        size_t name = line.find_first_not_of(L' ');
        size_t space = line.find(L' ', name);
        std::wstring value = space == std::wstring::npos ? L"" : line.substr(space + 1);
        value.erase(value.find_last_not_of(L' ') + 1);
        xml += L"<Data Name='" + line.substr(name, space - name) + L"'>" + value + L"</Data>";
    }
    return xml + L"</EventData></Event>";
}

struct ToolRecord {
    const char* file;
    bool named;
    WakeSourceKind kind;
    const wchar_t* name;
    const wchar_t* instancePath;
};

const ToolRecord kToolRecords[] = {
    {"lastwake-usb-root-hub.txt", true, WakeSourceKind::Device, L"the device USB Root Hub",
     L"USB\\ROOT_HUB20\\4&282dcf3f&0"},
    {"lastwake-vista-usb-controller.txt", true, WakeSourceKind::Device,
     L"the device Intel(R) 82801G (ICH7 Family) USB Universal Host Controller - 2",
     L"PCI\\VEN_8086&DEV_27C8&SUBSYS_01A81028&REV_01\\3&172e68dd&0&E8"},
    {"lastwake-timer-update-task.txt", true, WakeSourceKind::WakeTimer, L"a wake timer set by Windows Update", L""},
    {"lastwake-timer-update-service.txt", true, WakeSourceKind::WakeTimer, L"a wake timer set by Windows Update", L""},
    {"lastwake-none-translated.txt", false, WakeSourceKind::Unknown, L"unknown", L""},
};

TEST(WakeSourceTest, EachPostedToolOutputNamesItsSource) {
    for (const ToolRecord& record : kToolRecords) {
        SCOPED_TRACE(record.file);
        std::wstring text = ReadRecord(record.file);
        ASSERT_FALSE(text.empty());
        WakeSource source = {};
        EXPECT_EQ(NameLastWake(text.c_str(), &source), record.named);
        EXPECT_EQ(source.kind, record.kind);
        EXPECT_STREQ(source.name, record.name);
        EXPECT_STREQ(source.instancePath, record.instancePath);
        EXPECT_FALSE(source.builtIn);
        // Cut short before its source's first line, the output names nothing.
        size_t entry = text.find(L"Source [0]");
        if (entry != std::wstring::npos) {
            EXPECT_FALSE(NameLastWake(text.substr(0, entry + 10).c_str(), &source));
        }
    }
}

TEST(WakeSourceTest, AWakeTimerKeepsItsOwnerAndContextForTheLaterSteps) {
    WakeSource source = {};
    ASSERT_TRUE(NameLastWake(ReadRecord("lastwake-timer-update-task.txt").c_str(), &source));
    EXPECT_STREQ(source.timerOwner,
                 L"[SERVICE] \\Device\\HarddiskVolume1\\Windows\\System32\\svchost.exe (SystemEventsBroker)");
    EXPECT_STREQ(source.timerContext, L"Windows will execute 'NT TASK\\Microsoft\\Windows\\UpdateOrchestrator\\Reboot' "
                                      L"scheduled task that requested waking the computer.");
}

// The System log as the seam hands it over, and what was asked of it.
std::vector<std::wstring> g_queries;
std::wstring g_resumeEvent;
std::wstring g_toolRecord;
std::vector<std::wstring> g_toolCommandLines;

DWORD WINAPI AnswerFromPostedEvents(const wchar_t* query, DWORD maxEvents, wchar_t* xml, DWORD chars) {
    g_queries.emplace_back(query);
    std::wstring list;
    if (maxEvents > 0 && wcsstr(query, L"Power-Troubleshooter") && !g_resumeEvent.empty())
        list = g_resumeEvent + L'\0';
    if (list.size() + 1 > chars) return ERROR_INSUFFICIENT_BUFFER;
    wmemcpy(xml, list.c_str(), list.size());
    xml[list.size()] = L'\0';
    return ERROR_SUCCESS;
}

// The tool's output is a posted one, printed by a real process through the tool's pipe.
BOOL WINAPI PrintPostedOutputInstead(LPCWSTR, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                     BOOL inherit, DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW startup,
                                     LPPROCESS_INFORMATION process) {
    g_toolCommandLines.emplace_back(commandLine ? commandLine : L"");
    wchar_t interpreter[MAX_PATH];
    GetSystemDirectoryW(interpreter, MAX_PATH);
    wcscat(interpreter, L"\\cmd.exe");
    std::wstring typed = L"cmd.exe /c type \"" + g_toolRecord + L"\"";
    return CreateProcessW(interpreter, &typed[0], nullptr, nullptr, inherit, flags, nullptr, nullptr, startup, process);
}

class FindWakeSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_eventSeam.querySystemEvents = AnswerFromPostedEvents;
        g_powerSeam.createProcess = PrintPostedOutputInstead;
        g_queries.clear();
        g_toolCommandLines.clear();
        g_resumeEvent.clear();
        // The posted resume's wake time, 2021-07-26 21:05:25 UTC.
        SYSTEMTIME wake = {2021, 7, 1, 26, 21, 5, 25, 0};
        SystemTimeToFileTime(&wake, &resumed_);
    }
    PlatformScope platform_;
    FILETIME resumed_ = {};
};

TEST_F(FindWakeSourceTest, WithoutEventsTheLogIsAskedForBothThenTheToolAnswers) {
    g_toolRecord = RecordPath("lastwake-timer-update-service.txt");
    WakeSource source = {};

    EXPECT_TRUE(FindWakeSource(resumed_, nullptr, &source));
    EXPECT_EQ(source.record, WakeRecord::LastWakeTool);
    EXPECT_STREQ(source.name, L"a wake timer set by Windows Update");
    ASSERT_EQ(g_queries.size(), 2u);
    EXPECT_EQ(g_queries[0], L"*[System[Provider[@Name='Microsoft-Windows-Power-Troubleshooter'] and EventID=1 and "
                            L"TimeCreated[@SystemTime>='2021-07-26T21:03:25.000Z' and "
                            L"@SystemTime<='2021-07-26T21:15:25.000Z']]]");
    EXPECT_EQ(g_queries[1], L"*[System[Provider[@Name='Microsoft-Windows-Kernel-Power'] and EventID=507 and "
                            L"TimeCreated[@SystemTime>='2021-07-26T21:03:25.000Z' and "
                            L"@SystemTime<='2021-07-26T21:15:25.000Z']]]");
    ASSERT_EQ(g_toolCommandLines.size(), 1u);
    EXPECT_NE(g_toolCommandLines[0].find(L"\\powercfg.exe\" /lastwake"), std::wstring::npos);
}

TEST_F(FindWakeSourceTest, TheResumeEventAnswersFirstAndTakesNoOtherDevicesPath) {
    g_resumeEvent = ResumeEventXml(ReadRecord("resume-event-hd-audio.txt"));
    g_toolRecord = RecordPath("lastwake-usb-root-hub.txt");  // another wake's device
    WakeSource source = {};

    EXPECT_TRUE(FindWakeSource(resumed_, nullptr, &source));
    EXPECT_EQ(source.record, WakeRecord::ResumeEvent);
    EXPECT_EQ(source.kind, WakeSourceKind::Device);
    EXPECT_STREQ(source.name, L"the device High Definition Audio Controller");
    EXPECT_STREQ(source.instancePath, L"");
    EXPECT_EQ(g_queries.size(), 1u);

    // Windows 7 gave such a device type 4: a number other than 5 is not trusted to mean a
    // device, and the text is kept as it is.
    std::wstring typeFour = g_resumeEvent;
    typeFour.replace(typeFour.find(L"'WakeSourceType'>5<"), 19, L"'WakeSourceType'>4<");
    EXPECT_FALSE(NameResumeEvent(typeFour.c_str(), &source));
    EXPECT_EQ(source.kind, WakeSourceKind::Unknown);
    EXPECT_STREQ(source.name, L"High Definition Audio Controller");
}

TEST(WakeSourceTest, ThePostedModernStandbyReasonsAreNamedOrKeptAsNumbers) {
    WakeSource source = {};
    // "Reason: Input Mouse", MonitorRequestReasonUserInputMouse.
    EXPECT_TRUE(NameStandbyExitReason(32, &source));
    EXPECT_EQ(source.kind, WakeSourceKind::Input);
    EXPECT_STREQ(source.name, L"the mouse");
    // "Reason: 16777220", no value of the enumeration.
    EXPECT_FALSE(NameStandbyExitReason(16777220, &source));
    EXPECT_STREQ(source.name, L"unknown (Modern Standby reason 16777220)");
}

struct FieldCase {
    const char* what;
    const wchar_t* xml;
    bool read;
    const wchar_t* value;
};

const FieldCase kFieldCases[] = {
    {"entities and references", L"<Data Name='X'>a &amp; b &lt;&gt;&quot;&apos;&#65;&#x42;&#x1F600;</Data>", true,
     L"a & b <>\"'AB\U0001F600"},
    {"CDATA", L"<Data Name=\"X\"><![CDATA[a<b]]>c</Data>", true, L"a<bc"},
    {"empty element", L"<Data Name=\"X\"/>", true, L""},
    {"field inside another's text", L"<Data Name='Y'><![CDATA[<Data Name='X'>no</Data>]]></Data><Data Name='X'>yes</Data>",
     true, L"yes"},
    {"absent", L"<Data Name='Y'>a</Data>", false, L""},
    {"cut short", L"<Data Name='X'>abc", false, L""},
    {"unterminated name", L"<Data Name='X>abc</Data>", false, L""},
    {"element inside", L"<Data Name='X'>a<b/>c</Data>", false, L""},
    {"unknown entity", L"<Data Name='X'>&nbsp;</Data>", false, L""},
    {"NUL reference", L"<Data Name='X'>&#0;</Data>", false, L""},
    {"lone surrogate", L"<Data Name='X'>&#xD800;</Data>", false, L""},
    {"reference too long", L"<Data Name='X'>&#x0000000041;</Data>", false, L""},
};

TEST(WakeRecordXmlTest, ReadsFieldsStrictlyAndWithinBounds) {
    for (const FieldCase& c : kFieldCases) {
        SCOPED_TRACE(c.what);
        wchar_t value[16] = L"untouched";
        EXPECT_EQ(ReadEventData(c.xml, L"X", value, 16), c.read);
        EXPECT_STREQ(value, c.value);
    }
    // A value one character longer than the buffer is refused whole, one that fits exactly is read.
    wchar_t value[4];
    EXPECT_FALSE(ReadEventData(L"<Data Name='X'>abcd</Data>", L"X", value, 4));
    EXPECT_TRUE(ReadEventData(L"<Data Name='X'>abc</Data>", L"X", value, 4));
    DWORD number = 0;
    EXPECT_FALSE(ReadEventNumber(L"<Data Name='X'>4294967296</Data>", L"X", &number));
    EXPECT_TRUE(ReadEventNumber(L"<Data Name='X'>4294967295</Data>", L"X", &number));
    EXPECT_EQ(number, 4294967295u);
}

TEST(WakeRecordXmlTest, AQueryThatWouldBeCutShortIsNotMade) {
    FILETIME time = {};
    wchar_t query[64];
    EXPECT_FALSE(FormatWakeEventQuery(L"Microsoft-Windows-Kernel-Power", 507, time, time, query, 64));
}

TEST(SystemEventsTest, TheRealLogEndsItsListWhateverItHas) {
    std::vector<wchar_t> xml(4096, L'x');
    DWORD error = QuerySystemEvents(L"*[System[EventID=1]]", 1, xml.data(), static_cast<DWORD>(xml.size()));
    // Wine's log has no power events, or no query at all; either way nothing unended comes back.
    if (error == ERROR_SUCCESS) EXPECT_EQ(xml[wcslen(xml.data()) + 1], L'\0');
    else EXPECT_EQ(xml[0], L'\0');
}

}  // namespace
