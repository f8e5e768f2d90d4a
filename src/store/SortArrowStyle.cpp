#include "SortArrowStyle.h"

#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QStyleOptionHeader>

namespace {

// True when the style draws the arrow Qt asks for an ascending sort
// (SortDown) with a wide top, that is pointing down.
bool DrawsAscendingDown(const QStyle* style) {
    QImage img(24, 24, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QStyleOptionHeader opt;
    opt.rect = QRect(4, 4, 16, 16);
    opt.palette.setColor(QPalette::WindowText, Qt::black);
    opt.palette.setColor(QPalette::ButtonText, Qt::black);
    opt.sortIndicator = QStyleOptionHeader::SortDown;
    {
        QPainter p(&img);
        style->drawPrimitive(QStyle::PE_IndicatorHeaderArrow, &opt, &p, nullptr);
    }
    int first = 0;
    int last = 0;
    for (int y = 0; y < img.height(); ++y) {
        int n = 0;
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) > 64) ++n;
        if (n == 0) continue;
        if (first == 0) first = n;
        last = n;
    }
    return first > last;
}

} // namespace

SortArrowStyle::SortArrowStyle() : m_reversed(DrawsAscendingDown(baseStyle())) {}

void SortArrowStyle::Use(QHeaderView* header) {
    auto* style = new SortArrowStyle;
    style->setParent(header);
    header->setStyle(style);
}

void SortArrowStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option,
                                   QPainter* painter, const QWidget* widget) const {
    const auto* header = qstyleoption_cast<const QStyleOptionHeader*>(option);
    if (element != PE_IndicatorHeaderArrow || !m_reversed || !header ||
        header->sortIndicator == QStyleOptionHeader::None) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    QStyleOptionHeader flipped = *header;
    flipped.sortIndicator = header->sortIndicator == QStyleOptionHeader::SortUp
                                ? QStyleOptionHeader::SortDown
                                : QStyleOptionHeader::SortUp;
    QProxyStyle::drawPrimitive(element, &flipped, painter, widget);
}
