#pragma once

#include <QLoggingCategory>

// Diagnostic traces, off unless QT_LOGGING_RULES="rivuletrix.trace.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcTrace)
