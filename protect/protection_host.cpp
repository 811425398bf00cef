#include "protect/protection_host.h"

ProtectionHost g_protectionHost = {};
