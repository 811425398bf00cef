#include "common/seam_sessions.h"

namespace {

BOOL WINAPI IsRemoteSession() { return GetSystemMetrics(SM_REMOTESESSION) != 0; }

}  // namespace

SessionSeam g_sessionSeam = {
    &::CheckTokenMembership,
    &::OpenEventW,
    &::GetSecurityInfo,
    &::WTSGetActiveConsoleSessionId,
    IsRemoteSession,
    &::GetRawInputData,
    &::GetTokenInformation,
};
