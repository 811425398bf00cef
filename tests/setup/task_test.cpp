#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <string>

#include "ca_library.h"
#include "setup/task_query.h"
#include "support/test_support.h"

namespace {

// After the command: the arguments the setup program fills when it runs the task, and the
// closing tags.
const char kTail8[] = "</Command><Arguments>$(Arg0)</Arguments></Exec></Actions></Task>";
const wchar_t kTail16[] = L"</Command><Arguments>$(Arg0)</Arguments></Exec></Actions></Task>";

// A task head as a setup program writes it: everything up to the Exec start tag.
const wchar_t kHead[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
    L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
    L"  <RegistrationInfo><Description>Kalnix at log-on</Description></RegistrationInfo>\r\n"
    L"  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>\r\n"
    L"  <Settings><Enabled>true</Enabled></Settings>\r\n"
    L"  <Actions Context=\"Author\">\r\n"
    L"    <Exec>\r\n"
    L"      ";

std::string Utf16Bytes(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

const std::string kUtf16Mark = "\xFF\xFE";

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::wstring SystemDirectory() {
    wchar_t directory[MAX_PATH];
    GetSystemDirectoryW(directory, MAX_PATH);
    return directory;
}

// Where Wine's task scheduler keeps the registered task "Kalnix".
std::wstring RegisteredTaskPath() { return SystemDirectory() + L"\\Tasks\\Kalnix"; }

bool TaskToolRunning() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    bool running = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !running; more = Process32NextW(snapshot, &entry))
        running = _wcsicmp(entry.szExeFile, L"schtasks.exe") == 0;
    CloseHandle(snapshot);
    return running;
}

// The export does not wait for the tool; the tests do, so one run cannot leak into the next.
bool WaitForTaskTool() { return WaitUntil([] { return !TaskToolRunning(); }, 30000); }

class TaskTest : public ::testing::Test {
protected:
    void SetUp() override {
        OpenLogGateFor(L"diagnostic");
        ASSERT_TRUE(library_.Loaded());
        ASSERT_TRUE(WaitForTaskTool());
        RemoveFile(RegisteredTaskPath());
        directory_ = MakeScratchDirectory(L"task");
        taskFile_ = directory_ + L"\\kalnix-task.xml";
    }
    void TearDown() override {
        WaitForTaskTool();
        RemoveFile(RegisteredTaskPath());
        RemoveFile(LogPathBesideExecutable());
    }
    // Runs the export on a UTF-16LE head and waits for the task tool to finish with it.
    int InstallOnUtf16Head(const std::wstring& command) {
        WriteFileBytes(taskFile_, kUtf16Mark + Utf16Bytes(kHead));
        int result = library_.InstallKalnixTask(taskFile_.c_str(), command.c_str());
        EXPECT_TRUE(WaitForTaskTool());
        return result;
    }
    std::string RegisteredTask() { return ReadFileBytes(RegisteredTaskPath()); }

    CaLibrary library_{L"diagnostic"};
    std::wstring directory_;
    std::wstring taskFile_;
};

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

TEST_F(TaskTest, Utf16HeadBecomesTaskRegisteredAsKalnix) {
    const std::wstring command = L"\"C:\\Program Files\\Kalnix\\Kalnix.exe\" -fresh";
    EXPECT_EQ(InstallOnUtf16Head(command), 1);
    EXPECT_EQ(ReadFileBytes(taskFile_),
              kUtf16Mark + Utf16Bytes(kHead) + Utf16Bytes(L"<Command>" + command + kTail16));
    EXPECT_EQ(TestLog(), "CA: Entering InstallKalnixTask\r\n");
    // Wine's store keeps the registration data but not the action's text.
    EXPECT_TRUE(Contains(RegisteredTask(), "<Description>Kalnix at log-on</Description>"));
}

TEST_F(TaskTest, MarkupCharactersInCommandAreEscapedIntoWellFormedTask) {
    const std::wstring command = L"C:\\R&D\\Kalnix.exe -x <1>";
    EXPECT_EQ(InstallOnUtf16Head(command), 1);
    EXPECT_TRUE(Contains(ReadFileBytes(taskFile_),
                         Utf16Bytes(L"<Command>C:\\R&amp;D\\Kalnix.exe -x &lt;1&gt;</Command><Arguments>")));
    // The task tool accepts only a well-formed definition.
    EXPECT_TRUE(FileExists(RegisteredTaskPath()));
}

TEST_F(TaskTest, CommandOfFiveHundredCharactersFitsAndLongerIsRefused) {
    std::wstring longest = L"C:\\" + std::wstring(486, L'k') + L"\\Kalnix.exe";
    ASSERT_EQ(longest.size(), 500u);
    EXPECT_EQ(InstallOnUtf16Head(longest), 1);
    EXPECT_TRUE(Contains(ReadFileBytes(taskFile_), Utf16Bytes(L"<Command>" + longest + L"</Command><Arguments>")));
    EXPECT_TRUE(FileExists(RegisteredTaskPath()));

    // One character more: nothing is written and the tool is not started.
    RemoveFile(RegisteredTaskPath());
    RemoveFile(LogPathBesideExecutable());
    std::wstring tooLong = L"C:\\" + std::wstring(487, L'k') + L"\\Kalnix.exe";
    EXPECT_EQ(InstallOnUtf16Head(tooLong), 0);
    EXPECT_EQ(ReadFileBytes(taskFile_), kUtf16Mark + Utf16Bytes(kHead));
    EXPECT_EQ(TestLog(), "CA: Entering InstallKalnixTask\r\nCA: Task command longer than 500 characters: 501\r\n");
    EXPECT_FALSE(FileExists(RegisteredTaskPath()));

    // Every character escaped at its longest still fits.
    std::wstring ampersands(500, L'&');
    EXPECT_EQ(InstallOnUtf16Head(ampersands), 1);
    std::wstring escaped;
    for (int i = 0; i < 500; ++i) escaped += L"&amp;";
    EXPECT_TRUE(Contains(ReadFileBytes(taskFile_), Utf16Bytes(L"<Command>" + escaped + L"</Command><Arguments>")));
}

// The library writes the whole definition: its head, completed by the command, is a task the
// tool registers, replacing whatever the file held.
TEST_F(TaskTest, HeadAndCommandMakeTheLogonTaskOfEveryUser) {
    WriteFileBytes(taskFile_, "left over from an earlier run, and longer than a byte-order mark");
    EXPECT_EQ(library_.WriteTaskHead(taskFile_.c_str()), 1);
    std::string head = ReadFileBytes(taskFile_);
    EXPECT_EQ(head.substr(0, 2), kUtf16Mark) << "the command is appended as UTF-16LE only after the mark";
    std::string execTag = Utf16Bytes(L"<Exec>");
    ASSERT_GT(head.size(), execTag.size());
    EXPECT_EQ(head.substr(head.size() - execTag.size()), execTag) << "the head stops inside Exec";

    EXPECT_EQ(library_.InstallKalnixTask(taskFile_.c_str(), L"\"C:\\Program Files\\Kalnix\\Kalnix.exe\""), 1);
    EXPECT_TRUE(WaitForTaskTool());
    // Wine's store keeps the settings but neither triggers nor principals: those are read
    // from the definition that Windows' task tool would take.
    std::string task = RegisteredTask();
    for (const char* element : {"<Author>The Kalnix Project</Author>",
                                "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>",
                                "<DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>",
                                "<StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>",
                                "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit>"}) {
        EXPECT_TRUE(Contains(task, element)) << element << " in\n" << task;
    }
    std::string definition = ReadFileBytes(taskFile_);
    for (const wchar_t* element : {L"<LogonTrigger>\r\n      <Enabled>true</Enabled>\r\n    </LogonTrigger>",
                                   L"<GroupId>S-1-5-32-545</GroupId>", L"<RunLevel>LeastPrivilege</RunLevel>"}) {
        EXPECT_TRUE(Contains(definition, Utf16Bytes(element))) << "missing from the definition";
    }
    EXPECT_EQ(TestLog(), "CA: Entering WriteTaskHead\r\nCA: Entering InstallKalnixTask\r\n");
}

TEST_F(TaskTest, HeadThatCannotBeCreatedIsReported) {
    std::wstring path = directory_ + L"\\missing\\task.xml";
    EXPECT_EQ(library_.WriteTaskHead(path.c_str()), 0);
    EXPECT_FALSE(FileExists(path));
    EXPECT_EQ(TestLog(), "CA: Entering WriteTaskHead\r\nCA: CreateFile failed: 3\r\n");
}

// The first bytes of the file decide the encoding of what is appended; no mark is added.
TEST_F(TaskTest, AppendedTextFollowsTheFilesByteOrderMark) {
    struct Case {
        const char* name;
        bool exists;
        std::string head;
        std::wstring command;
        std::string appended;
    };
    const Case cases[] = {
        {"missing file gets 8-bit text", false, "", L"C:\\K\\Kalnix.exe",
         std::string("<Command>C:\\K\\Kalnix.exe") + kTail8},
        {"empty file gets 8-bit text", true, "", L"C:\\K\\Kalnix.exe",
         std::string("<Command>C:\\K\\Kalnix.exe") + kTail8},
        {"unmarked head gets 8-bit text", true, "<Task><Actions><Exec>", L"a&b",
         std::string("<Command>a&amp;b") + kTail8},
        {"UTF-8 mark gets UTF-8", true, "\xEF\xBB\xBF<Task><Actions><Exec>", L"caf\u00e9 \u20ac",
         std::string("<Command>caf\xC3\xA9 \xE2\x82\xAC") + kTail8},
        {"UTF-16LE mark gets UTF-16LE", true, kUtf16Mark + Utf16Bytes(L"<Task><Actions><Exec>"), L"caf\u00e9 \u20ac",
         Utf16Bytes(L"<Command>caf\u00e9 \u20ac" + std::wstring(kTail16))},
        {"lone mark byte is unmarked", true, "\xFF", L"x", std::string("<Command>x") + kTail8},
    };
    for (const Case& c : cases) {
        RemoveFile(taskFile_);
        if (c.exists) WriteFileBytes(taskFile_, c.head);
        EXPECT_EQ(library_.InstallKalnixTask(taskFile_.c_str(), c.command.c_str()), 1) << c.name;
        EXPECT_TRUE(WaitForTaskTool());
        EXPECT_EQ(ReadFileBytes(taskFile_), c.head + c.appended) << c.name;
    }
    // None of these heads makes a task.
    EXPECT_FALSE(FileExists(RegisteredTaskPath()));
}

TEST_F(TaskTest, FilesThatCannotBeOpenedStayAsTheyWere) {
    struct Case {
        const char* name;
        std::wstring path;
        bool exists;
        std::string bytes;
        const char* line;
    };
    std::wstring bigEndianHead = L"<Task><Actions><Exec>";
    std::string bigEndian = "\xFE\xFF";
    for (wchar_t c : bigEndianHead) bigEndian += std::string{'\0', static_cast<char>(c)};
    const Case cases[] = {
        {"big-endian mark", taskFile_, true, bigEndian, "CA: Opening task file failed: 22\r\n"},
        {"missing folder", directory_ + L"\\missing\\task.xml", false, "", "CA: Opening task file failed: 2\r\n"},
        {"folder, not a file", directory_, true, "", "CA: Opening task file failed: 13\r\n"},
    };
    for (const Case& c : cases) {
        RemoveFile(LogPathBesideExecutable());
        if (c.exists && !c.bytes.empty()) WriteFileBytes(c.path, c.bytes);
        EXPECT_EQ(library_.InstallKalnixTask(c.path.c_str(), L"C:\\K\\Kalnix.exe"), 0) << c.name;
        EXPECT_EQ(TestLog(), std::string("CA: Entering InstallKalnixTask\r\n") + c.line) << c.name;
        EXPECT_EQ(FileExists(c.path), c.exists) << c.name;
        if (!c.bytes.empty()) {
            EXPECT_EQ(ReadFileBytes(c.path), c.bytes) << c.name;
        }
    }
    EXPECT_FALSE(TaskToolRunning());
}

// The tool's command line holds 259 characters: system directory, 39 characters of
// options, the quoted path.
TEST_F(TaskTest, TaskFilePathThatOverflowsTheCommandLineIsRefused) {
    size_t longestPath = 259 - SystemDirectory().size() - 39 - 1;
    std::wstring prefix = directory_ + L"\\";
    ASSERT_LT(prefix.size() + 5, longestPath);
    std::wstring fits = prefix + std::wstring(longestPath - prefix.size() - 4, L'p') + L".xml";
    ASSERT_EQ(fits.size(), longestPath);
    EXPECT_EQ(library_.InstallKalnixTask(fits.c_str(), L"C:\\K\\Kalnix.exe"), 1);
    EXPECT_TRUE(WaitForTaskTool());
    EXPECT_TRUE(FileExists(fits));

    RemoveFile(LogPathBesideExecutable());
    std::wstring tooLong = prefix + std::wstring(longestPath - prefix.size() - 3, L'p') + L".xml";
    EXPECT_EQ(library_.InstallKalnixTask(tooLong.c_str(), L"C:\\K\\Kalnix.exe"), 0);
    EXPECT_FALSE(FileExists(tooLong));
    EXPECT_EQ(TestLog(), "CA: Entering InstallKalnixTask\r\nCA: Task command line too long: 260\r\n");
    RemoveFile(fits);
}

// Whether the task is registered. On Windows only the task tool's answer counts, which Wine
// cannot give (its tool answers 0 for any name): that path runs the linked code with a
// stand-in tool, `cmd /c exit N`, in place of the real one.
struct StandInTool {
    bool starts;
    DWORD exitCode;
};
StandInTool g_standInTool;
std::wstring g_startedApplication;
std::wstring g_startedCommandLine;
DWORD g_startFlags = 0;

bool NotOnWine() { return false; }

BOOL WINAPI StartStandInTool(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                             BOOL, DWORD flags, LPVOID, LPCWSTR, LPSTARTUPINFOW startup,
                             LPPROCESS_INFORMATION started) {
    g_startedApplication = application ? application : L"<none>";
    g_startedCommandLine = commandLine ? commandLine : L"<none>";
    g_startFlags = flags;
    if (!g_standInTool.starts) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    wchar_t exitCommand[64];
    swprintf(exitCommand, 64, L"cmd.exe /c exit %lu", static_cast<unsigned long>(g_standInTool.exitCode));
    return CreateProcessW(nullptr, exitCommand, nullptr, nullptr, FALSE, flags, nullptr, nullptr, startup, started);
}

void WriteStrayTaskFile() {
    CreateDirectoryW((SystemDirectory() + L"\\Tasks").c_str(), nullptr);
    WriteFileBytes(RegisteredTaskPath(), "not a task");
}

TEST_F(TaskTest, OnWindowsTheTaskToolsAnswerDecidesNotAFile) {
    struct Case {
        const char* name;
        bool strayFile;
        StandInTool tool;
        int registered;
        std::string log;
    };
    const std::string entering = "CA: Entering TaskIsRegistered\r\n";
    const Case cases[] = {
        {"stray file, tool answers 1", true, {true, 1}, 0, entering},
        {"no file, tool answers 0", false, {true, 0}, 1, entering},
        {"tool cannot start", true, {false, 0}, 0, entering + "CA: CreateProcess failed: 2\r\n"},
    };
    const std::wstring tool = SystemDirectory() + L"\\schtasks.exe";
    const TaskQueryCalls real = g_taskQuery;
    g_taskQuery = {&NotOnWine, &StartStandInTool};
    for (const Case& c : cases) {
        OpenLogGateFor(L"standard");
        RemoveFile(RegisteredTaskPath());
        if (c.strayFile) WriteStrayTaskFile();
        g_standInTool = c.tool;
        g_startedCommandLine.clear();
        EXPECT_EQ(TaskIsRegistered() ? 1 : 0, c.registered) << c.name;
        EXPECT_EQ(g_startedApplication, tool) << c.name;
        EXPECT_EQ(g_startedCommandLine, L"\"" + tool + L"\" /Query /TN Kalnix") << c.name;
        EXPECT_EQ(g_startFlags, static_cast<DWORD>(CREATE_NO_WINDOW)) << c.name;
        EXPECT_EQ(TestLog(), c.log) << c.name;
    }
    g_taskQuery = real;
}

// Wine's tool answers 0 for any name, so there the library looks for the task's file.
TEST_F(TaskTest, OnWineTheTasksFileDecides) {
    EXPECT_EQ(library_.TaskIsRegistered(), 0);
    WriteStrayTaskFile();
    EXPECT_EQ(library_.TaskIsRegistered(), 1);
    EXPECT_FALSE(TaskToolRunning());
    EXPECT_EQ(TestLog(), "CA: Entering TaskIsRegistered\r\nCA: Entering TaskIsRegistered\r\n");
}

}  // namespace
