#include "common/platform.h"

Platform g_platform = {
    &::Beep,
    &::Shell_NotifyIconW,
    &::ShellExecuteW,
    &::CheckTokenMembership,
    &::OpenEventW,
    &::SetTimer,
};
