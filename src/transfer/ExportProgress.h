#pragma once

#include "ExportJob.h"

#include <functional>

class QWidget;

// Runs a send on a worker thread behind a modal progress window whose
// Cancel asks the job to stop between writes. Returns once the worker has
// ended; the caller shows the outcome (on the window's thread).
ExportOutcome RunExportWithProgress(QWidget* parent, const QString& what, ExportJob& job,
                                    const std::function<ExportOutcome()>& send);
