#include "DataTableView.h"

#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

DataTableView::DataTableView(const CRivuletrixDoc& doc, QWidget* parent)
    : QAbstractScrollArea(parent), m_table(doc) {
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
}

int DataTableView::VisibleLines() const {
    const int pitch = DataTable::LinePitch(viewport()->logicalDpiY());
    return std::max(1, viewport()->height() / std::max(1, pitch));
}

int DataTableView::FirstLine() const {
    return verticalScrollBar()->value();
}

void DataTableView::UpdateRanges() {
    const int lines = m_table.LineCount();
    const int visible = VisibleLines();
    QScrollBar* v = verticalScrollBar();
    v->setPageStep(visible);
    v->setRange(0, std::max(0, lines - visible));
    QScrollBar* h = horizontalScrollBar();
    const int width = m_table.PixelWidth(viewport()->logicalDpiY());
    h->setPageStep(std::max(1, viewport()->width()));
    h->setSingleStep(10);
    h->setRange(0, std::max(0, width - viewport()->width()));
}

void DataTableView::Refresh() {
    m_table.Sync();
    UpdateRanges();
    viewport()->update();
}

void DataTableView::ScrollHome() {
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
}

void DataTableView::ScrollToEnd() {
    Refresh();
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void DataTableView::paintEvent(QPaintEvent*) {
    ++m_frames;
    QPainter p(viewport());
    const QRect area = viewport()->rect();
    p.fillRect(area, Qt::white);
    m_table.Draw(p, FirstLine(), horizontalScrollBar()->value(), area, viewport()->logicalDpiY());
}

void DataTableView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateRanges();
}

void DataTableView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Home && event->modifiers() & Qt::ControlModifier) {
        verticalScrollBar()->setValue(0);
        return;
    }
    if (event->key() == Qt::Key_End && event->modifiers() & Qt::ControlModifier) {
        ScrollToEnd();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}
