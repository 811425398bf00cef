#include "protect/protection_state.h"

ProtectionState g_protection = {};
