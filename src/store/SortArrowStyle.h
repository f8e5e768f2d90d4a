#pragma once

#include <QProxyStyle>

class QHeaderView;

// Sort arrows that point as on Windows' own lists: up for an ascending sort,
// down for a descending one (latest first). Some styles draw the reverse
// (Fusion on Linux follows GTK), so the style is asked once which way it
// draws and is corrected if needed; each style keeps its own arrow's look.
class SortArrowStyle : public QProxyStyle {
public:
    // The style belongs to the header.
    static void Use(QHeaderView* header);

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;

private:
    SortArrowStyle();

    bool m_reversed = false;
};
