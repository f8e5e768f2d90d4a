#include "ReportPrinting.h"

#include "view/DataTable.h"

#include "base/CheckedSaveFile.h"
#include "base/Prompter.h"
#include "records/RivuletrixDoc.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

namespace printing {

namespace {

Dialogs PlatformDialogs() {
    Dialogs d;
    d.print = [](QPrinter& printer, QWidget* parent) {
        QPrintDialog dlg(&printer, parent);
        return dlg.exec() == QDialog::Accepted;
    };
    d.preview = [](QPrinter& printer, QWidget* parent,
                   const std::function<void(QPrinter*)>& render) {
        QPrintPreviewDialog dlg(&printer, parent);
        QObject::connect(&dlg, &QPrintPreviewDialog::paintRequested, &dlg, render);
        dlg.exec();
    };
    d.pageSetup = [](QPrinter& printer, QWidget* parent) {
        QPageSetupDialog dlg(&printer, parent);
        return dlg.exec() == QDialog::Accepted;
    };
    d.savePath = [](QWidget* parent, const QString& caption, const QString& suggested,
                    const QString& filter) {
        return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
    };
    return d;
}

const QString kCannotStart = QStringLiteral("Could not start print job.");

QString BaseName(const CRivuletrixDoc& doc) {
    const QString name = QFileInfo(doc.PathName()).completeBaseName();
    return name.isEmpty() ? QStringLiteral("Rivuletrix") : name;
}

} // namespace

Dialogs& Hooks() {
    static Dialogs hooks = PlatformDialogs();
    return hooks;
}

void ResetHooks() {
    Hooks() = PlatformDialogs();
}

QPrinter& SharedPrinter() {
    static QPrinter printer(QPrinter::HighResolution);
    return printer;
}

void PageSetup(QWidget* parent) {
    Hooks().pageSetup(SharedPrinter(), parent);
}

bool Print(Job& job) {
    QPrinter& printer = SharedPrinter();
    const bool laterSteps = job.nextStep && job.doc.TemplateSteps > 0 &&
                            RecordReport::CurrentStep(job.doc) < job.doc.TemplateSteps;
    // Later steps print on the chosen printer without asking again; with no
    // printer and no file chosen yet there is nothing to print on.
    const bool nowhere =
        printer.outputFormat() == QPrinter::PdfFormat && printer.outputFileName().isEmpty();
    if ((!laterSteps || nowhere) && !Hooks().print(printer, job.parent)) return false;
    // A file receives every step in one document; a printer one job a step.
    const bool toFile = printer.outputFormat() == QPrinter::PdfFormat;
    QPainter painter;
    bool continuing = false;
    while (true) {
        if (!painter.isActive() && !painter.begin(&printer)) {
            ThePrompter().Message(kCannotStart, Prompter::Icon::Warning);
            return false;
        }
        RecordReport report(job.doc, job.state, job.setup);
        report.PrintAll(painter, printer, continuing);
        if (!toFile) painter.end();
        if (!job.nextStep || job.doc.TemplateSteps == 0 ||
            RecordReport::CurrentStep(job.doc) >= job.doc.TemplateSteps || !job.nextStep())
            break;
        continuing = toFile;
    }
    if (painter.isActive()) painter.end();
    return true;
}

void Preview(Job& job) {
    Hooks().preview(SharedPrinter(), job.parent, [&job](QPrinter* printer) {
        QPainter painter;
        if (!painter.begin(printer)) return;
        RecordReport report(job.doc, job.state, job.setup);
        report.PrintAll(painter, *printer);
    });
}

bool ExportPdf(Job& job) {
    const QString path = Hooks().savePath(job.parent, QStringLiteral("Export PDF"),
                                          BaseName(job.doc) + QStringLiteral(".pdf"),
                                          QStringLiteral("PDF files (*.pdf)"));
    if (path.isEmpty()) return false;
    QString error;
    if (!RecordReport::WritePdf(path, job.doc, job.state, job.setup, SharedPrinter().pageLayout(),
                                &error)) {
        ThePrompter().Message(error, Prompter::Icon::Warning);
        return false;
    }
    return true;
}

bool ExportCsv(CRivuletrixDoc& doc, QWidget* parent) {
    const QString path = Hooks().savePath(parent, QStringLiteral("Export Data Table"),
                                          BaseName(doc) + QStringLiteral(".csv"),
                                          QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty()) return false;
    DataTable table(doc);
    table.Sync();
    QString why;
    if (!checkedfile::Write(path, table.Csv(), &why)) {
        ThePrompter().Message(QStringLiteral("The data table could not be written.\n%1").arg(why),
                              Prompter::Icon::Warning);
        return false;
    }
    return true;
}

} // namespace printing
