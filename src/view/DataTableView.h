#pragma once

#include "view/DataTable.h"

#include <QAbstractScrollArea>

class CRivuletrixDoc;

// The channel window's data-table mode: the record's table drawn straight
// from the samples, scrolled by whole lines. The scroll range is the line
// count itself (Qt's ranges are not 16-bit), so a record of millions of
// samples scrolls to its last row directly.
class DataTableView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit DataTableView(const CRivuletrixDoc& doc, QWidget* parent = nullptr);

    DataTable& Table() { return m_table; }
    // Takes in new samples and updates the scroll range; repaints.
    void Refresh();
    // Back to the first header line and the left edge.
    void ScrollHome();
    void ScrollToEnd();
    int FirstLine() const;
    // Whole lines the viewport shows.
    int VisibleLines() const;
    int Frames() const { return m_frames; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void UpdateRanges();

    DataTable m_table;
    int m_frames = 0;
};
