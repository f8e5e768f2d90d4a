#include "Trace.h"

Q_LOGGING_CATEGORY(lcTrace, "rivuletrix.trace", QtInfoMsg)
