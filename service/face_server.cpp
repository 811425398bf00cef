#include "service/face_server.h"

#include "common/diagnostic_log.h"
#include "service/face_pipe.h"

FaceSessionCalls g_faceSessions = {ProcessIdToSessionId, WTSGetActiveConsoleSessionId};

namespace {

FaceReports g_reports = {};
bool g_consoleFacePresent = false;

bool InConsoleSession(const FaceRecord& record) {
    DWORD console = g_faceSessions.consoleSession();
    return record.accepted && console != 0xFFFFFFFF && record.sessionId == console;
}

FaceConnection* ConsoleFace() {
    FaceConnection* connections[kMaxFaceConnections];
    int count = FaceConnections(connections);
    for (int i = 0; i < count; ++i) {
        if (InConsoleSession(*RecordOf(connections[i]))) return connections[i];
    }
    return nullptr;
}

// Said when it changes, so that the protection can start or stop what needs the console's face.
void NoteConsoleFace() {
    bool present = ConsoleFace() != nullptr;
    if (present == g_consoleFacePresent) return;
    g_consoleFacePresent = present;
    if (g_reports.consoleFaceChanged) g_reports.consoleFaceChanged(present);
}

void Drop(FaceConnection* connection, const wchar_t* why) {
    LogFormatted(L"A face's message was refused (%ls): its connection in session %u is closed\n", why,
                 static_cast<unsigned>(RecordOf(connection)->sessionId));
    CloseFaceConnection(connection);
}

void OnConnected(FaceConnection* connection, DWORD clientProcessId) {
    FaceRecord* record = RecordOf(connection);
    record->processId = clientProcessId;
    if (!clientProcessId || !g_faceSessions.processSession(clientProcessId, &record->sessionId)) {
        LogFormatted(L"A face's session could not be told: %d\n", static_cast<int>(GetLastError()));
        CloseFaceConnection(connection);
    }
}

void OnHello(FaceConnection* connection) {
    FaceRecord* record = RecordOf(connection);
    record->greeted = true;
    if (FaceInSession(record->sessionId)) {
        SendOnFaceConnection(connection,
                             MakeFlagMessage(LinkKind::Refused, static_cast<UINT32>(LinkRefusal::FaceInSession)));
        CloseFaceConnectionAfterSend(connection);
        return;
    }
    record->accepted = true;
    bool console = InConsoleSession(*record);
    LogFormatted(L"Kalnix in session %u is connected%ls\n", static_cast<unsigned>(record->sessionId),
                 console ? L": the console's, which sounds the alarm and hears the person" : L"");
    LinkMessage welcome = MakeLinkMessage(LinkKind::Welcome);
    welcome.welcome.console = console ? 1 : 0;
    if (g_reports.state) welcome.welcome.state = g_reports.state();
    if (SendOnFaceConnection(connection, welcome)) NoteConsoleFace();
}

// Only the console's face speaks for the laptop; another session's report is no person at it.
bool TrustedReport(FaceConnection* connection) {
    FaceRecord* record = RecordOf(connection);
    if (InConsoleSession(*record)) return true;
    if (!record->distrustLogged)
        LogFormatted(L"Reports from the face in session %u are ignored: it is not the console's\n",
                     static_cast<unsigned>(record->sessionId));
    record->distrustLogged = true;
    return false;
}

void OnReceived(FaceConnection* connection, const BYTE* bytes, DWORD size) {
    LinkMessage message;
    const wchar_t* why = nullptr;
    if (!ReadLinkMessage(bytes, size, LinkSender::Face, &message, &why)) return Drop(connection, why);
    LinkKind kind = static_cast<LinkKind>(message.header.kind);
    FaceRecord* record = RecordOf(connection);
    if (kind == LinkKind::Hello) {
        if (record->greeted) return Drop(connection, L"a second hello");
        return OnHello(connection);
    }
    if (!record->accepted) return Drop(connection, L"a report before its hello");
    if (!TrustedReport(connection)) return;
    switch (kind) {
    case LinkKind::PersonInput:
        if (g_reports.personInput) g_reports.personInput(static_cast<LinkInputSource>(message.flag));
        break;
    case LinkKind::Displays:
        if (g_reports.displays) g_reports.displays(static_cast<LinkDisplays>(message.flag));
        break;
    case LinkKind::DisplayOffDone:
        if (g_reports.displayOffDone) g_reports.displayOffDone(message.flag == 1);
        break;
    default:
        break;
    }
}

void OnOversized(FaceConnection* connection) { Drop(connection, L"longer than any message"); }

void OnEnded(FaceConnection* connection) {
    RecordOf(connection)->accepted = false;
}

}  // namespace

bool StartFaceServer(const FaceReports& reports) {
    g_reports = reports;
    g_consoleFacePresent = false;
    return StartFacePipe({OnConnected, OnReceived, OnOversized, OnEnded});
}

void StopFaceServer() {
    StopFacePipe();
    g_consoleFacePresent = false;
}

int FaceServerHandles(HANDLE* handles, int room) { return FacePipeHandles(handles, room); }

bool FaceServerSignalled(HANDLE signalled) {
    if (!FacePipeSignalled(signalled)) return false;
    // A face that connected, or ended, may have been the console's.
    NoteConsoleFace();
    return true;
}

void SendToEveryFace(const LinkMessage& message) {
    FaceConnection* connections[kMaxFaceConnections];
    int count = FaceConnections(connections);
    for (int i = 0; i < count; ++i) {
        if (FaceConnected(connections[i]) && RecordOf(connections[i])->accepted)
            SendOnFaceConnection(connections[i], message);
    }
    NoteConsoleFace();
}

bool SendToConsoleFace(const LinkMessage& message) {
    FaceConnection* console = ConsoleFace();
    bool sent = console && SendOnFaceConnection(console, message);
    NoteConsoleFace();
    return sent;
}

bool ConsoleFacePresent() { return ConsoleFace() != nullptr; }

bool FaceInSession(DWORD sessionId) {
    FaceConnection* connections[kMaxFaceConnections];
    int count = FaceConnections(connections);
    for (int i = 0; i < count; ++i) {
        const FaceRecord* record = RecordOf(connections[i]);
        if (record->accepted && record->sessionId == sessionId) return true;
    }
    return false;
}

void OnConsoleSessionChange() { NoteConsoleFace(); }
