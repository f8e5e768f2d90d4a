#pragma once

#include "view/RecordReport.h"

#include <QString>

#include <functional>

class CRivuletrixDoc;
class QPrinter;
class QWidget;

// Print, print preview, page setup and the PDF and CSV exports of a channel
// window, on Qt Print Support. The pages come from RecordReport.
namespace printing {

// The dialogs the commands open. Tests replace them with scripted ones;
// everything behind them runs as for a user.
struct Dialogs {
    // The print dialog; true when the user chose to print.
    std::function<bool(QPrinter&, QWidget*)> print;
    // The preview window, which asks render for its pages.
    std::function<void(QPrinter&, QWidget*, const std::function<void(QPrinter*)>& render)> preview;
    std::function<bool(QPrinter&, QWidget*)> pageSetup;
    // A file name to save to; empty when cancelled.
    std::function<QString(QWidget*, const QString& caption, const QString& suggested,
                          const QString& filter)>
        savePath;
};
Dialogs& Hooks();
// Restores the platform's dialogs.
void ResetHooks();

// The printer and page settings shared by every window (File > Print Setup).
QPrinter& SharedPrinter();
void PageSetup(QWidget* parent);

// One print command of a window.
struct Job {
    CRivuletrixDoc& doc;
    ViewState& state;
    ReportSetup setup;
    // Moves a template record window to its next step; false when there is
    // none. Unset for windows that show no record file.
    std::function<bool()> nextStep;
    QWidget* parent = nullptr;
};

// Prints the record: the print dialog first (a template record with later
// steps prints on the chosen printer without asking), then one job per step
// from the current one to the last. False when nothing was printed.
bool Print(Job& job);
void Preview(Job& job);
// Asks for a file and writes the report as PDF (every later template step
// too) or the data table as CSV.
bool ExportPdf(Job& job);
bool ExportCsv(CRivuletrixDoc& doc, QWidget* parent);

} // namespace printing
