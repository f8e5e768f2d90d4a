#include "RunHost.h"

namespace {
RunHost* g_current = nullptr;
}

RunHost::RunHost() {
    g_current = this;
}

RunHost::~RunHost() {
    if (g_current == this) g_current = nullptr;
}

RunHost* RunHost::Current() {
    return g_current;
}
