#include "ViewToolbar.h"

#include "view/ViewState.h"

#include <QPainter>
#include <QPixmap>

namespace viewtoolbar {

QIcon Icon(int id) {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.5));
    switch (id) {
    case viewcmd::SetupTest:
        p.drawRect(5, 4, 14, 16);
        p.drawLine(8, 9, 16, 9);
        p.drawLine(8, 13, 16, 13);
        break;
    case viewcmd::StartTest:
        p.setBrush(QColor(0, 160, 0));
        p.drawPolygon(QPolygon({QPoint(7, 4), QPoint(19, 12), QPoint(7, 20)}));
        break;
    case viewcmd::EndTest:
        p.setBrush(QColor(200, 0, 0));
        p.drawRect(6, 6, 12, 12);
        break;
    case viewcmd::ShowKey:
        p.drawRect(4, 5, 16, 14);
        p.setPen(QPen(Qt::blue, 2));
        p.drawLine(12, 9, 18, 9);
        p.setPen(QPen(QColor(0, 223, 0), 2));
        p.drawLine(12, 14, 18, 14);
        break;
    case viewcmd::ShowTestParameters:
    case viewcmd::ShowTestDetails:
        p.setBrush(QColor(255, 255, 230));
        p.drawRect(4, 4, 16, 16);
        for (int y = 8; y <= (id == viewcmd::ShowTestDetails ? 17 : 12); y += 3)
            p.drawLine(7, y, 17, y);
        break;
    case viewcmd::ShowDataTable:
        p.drawRect(4, 4, 16, 16);
        p.drawLine(4, 9, 20, 9);
        p.drawLine(11, 4, 11, 20);
        break;
    case viewcmd::ExpandYAxis:
    case viewcmd::ShrinkYAxis:
    case viewcmd::ResetYAxis:
        p.drawLine(6, 3, 6, 21);
        p.drawLine(6, 21, 21, 21);
        if (id == viewcmd::ResetYAxis) {
            p.drawLine(14, 6, 14, 17);
        } else {
            const int dir = id == viewcmd::ExpandYAxis ? 1 : -1;
            p.drawLine(14, 5, 14, 18);
            p.drawLine(14, dir > 0 ? 18 : 5, 10, dir > 0 ? 14 : 9);
            p.drawLine(14, dir > 0 ? 18 : 5, 18, dir > 0 ? 14 : 9);
        }
        break;
    case viewcmd::TemplatePreviousStep:
    case viewcmd::TemplateNextStep: {
        const bool next = id == viewcmd::TemplateNextStep;
        p.setBrush(Qt::black);
        p.drawPolygon(next ? QPolygon({QPoint(8, 5), QPoint(17, 12), QPoint(8, 19)})
                           : QPolygon({QPoint(16, 5), QPoint(7, 12), QPoint(16, 19)}));
        break;
    }
    default:
        break;
    }
    return QIcon(pm);
}

} // namespace viewtoolbar
