#pragma once

#include <QLoggingCategory>

// Diagnostic traces of the store, on the program's trace category (off by
// default; QT_LOGGING_RULES="rivuletrix.trace=true" turns it on).
Q_DECLARE_LOGGING_CATEGORY(lcStore)
