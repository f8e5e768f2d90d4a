#pragma once

#include "view/RenderContext.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class CRivuletrixDoc;
class DataTable;
class QPageLayout;
class QPagedPaintDevice;
class QPaintDevice;
class QPainter;

// What a print job prints of a record.
struct ReportSetup {
    // The data-table report (header block and every row over as many pages
    // as needed) instead of the graph page.
    bool table = false;
    // "ReportHeader1".."3" as read again from the settings for this print;
    // they replace the record's header lines. Unset keeps the record's.
    std::optional<QStringList> reportHeaders;
    RenderOptions render;
};

// The printed report of one record (one template step): the graph page (the
// graph or trumpet curve with, on a portrait page, the record's parameters
// and results below it) or the multi-page data-table report. Draws with a
// QPainter on any paint device, so the same pages go to a printer, the
// print preview, a PDF file or an image. Distances are device pixels; the
// page is the device's paintable area.
class RecordReport {
public:
    RecordReport(CRivuletrixDoc& doc, ViewState& state, ReportSetup setup);
    ~RecordReport();

    // Geometry and pagination for pages of this device, and the switches a
    // print makes to the window's boxes: a landscape page switches the key
    // and the measured values off (until a later portrait print) and puts
    // the test details at the plot's top left; a portrait page switches
    // them on again. Returns the page count.
    int Begin(const QPaintDevice& device);
    int PageCount() const { return m_pages; }
    // Report pages: the first row (0-based) a page lists and how many.
    int FirstRowOfPage(int page) const;
    int RowsOnPage(int page) const;

    // Draws page `page` (from 1) of the job begun.
    void PrintPage(QPainter& p, int page);
    // Begins and prints every page onto a paged device with a painter that
    // is active on it; newPage() comes before every page but the first,
    // and before the first too when continuing a job.
    // Returns the pages printed.
    int PrintAll(QPainter& p, QPagedPaintDevice& device, bool continuing = false);

    // Writes the pages as a PDF file in the page layout given; a template
    // record read from a file gets every later step after the current one
    // (each read again from the file). False with the reason in error.
    static bool WritePdf(const QString& path, CRivuletrixDoc& doc, ViewState& state,
                         const ReportSetup& setup, const QPageLayout& layout,
                         QString* error = nullptr, int* pages = nullptr);

    // "Rivuletrix Version 3.50".
    static QString VersionLine();
    // The step a template record shows (from 1).
    static int CurrentStep(const CRivuletrixDoc& doc);

private:
    struct Writer;
    void PageHeaderGraph(Writer& w, int page) const;
    void PageHeaderReport(Writer& w, int page) const;
    void GraphTextBlocks(Writer& w);
    void ParameterRows(Writer& w) const;
    void PumpRows(Writer& w) const;
    void ValueRows(Writer& w) const;
    void ReportHeaderBlock(Writer& w) const;
    void TableHeader(Writer& w) const;
    void TableRow(Writer& w, int row) const;
    std::vector<int> ColumnLefts() const;

    CRivuletrixDoc& m_doc;
    ViewState& m_st;
    ReportSetup m_setup;
    std::unique_ptr<DataTable> m_table;
    // Page geometry: half-inch margins, printable width and height, the
    // device's size and resolution.
    int m_mx = 0, m_my = 0, m_w = 0, m_h = 0, m_horz = 0, m_vert = 0, m_dpiX = 96, m_dpiY = 96;
    int m_pitch = 1;
    int m_pages = 1;
    int m_rowsFirst = 0, m_rowsLater = 1;
};
