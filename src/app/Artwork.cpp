#include "Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace artwork {
namespace {

const QColor kInk(40, 60, 110);
const QColor kFlow(0, 140, 70);
const QColor kPressure(200, 40, 40);

void Graph(QPainter& p, const QColor& c, const QList<QPointF>& pts) {
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.drawLine(5, 4, 5, 27);
    p.drawLine(5, 27, 28, 27);
    p.setPen(QPen(c, 2.2));
    p.drawPolyline(pts.data(), int(pts.size()));
}

void Label(QPainter& p, const QString& text, const QColor& c, int size = 10) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(size);
    f.setBold(true);
    p.setFont(f);
    p.setPen(c);
    p.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter, text);
}

void DrawTool(QPainter& p, Tool tool) {
    p.setRenderHint(QPainter::Antialiasing);
    switch (tool) {
    case Tool::OpenRecords:
    case Tool::OpenTemplates:
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(QColor(250, 220, 120));
        p.drawRect(4, 9, 24, 17);
        p.drawRect(4, 6, 10, 4);
        Label(p, tool == Tool::OpenRecords ? QStringLiteral("R") : QStringLiteral("T"), kInk, 12);
        break;
    case Tool::Print:
    case Tool::PrintPreview:
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(Qt::white);
        p.drawRect(9, 4, 14, 10);
        p.setBrush(QColor(200, 205, 215));
        p.drawRoundedRect(4, 13, 24, 11, 2, 2);
        if (tool == Tool::PrintPreview) {
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(kInk, 2));
            p.drawEllipse(QPointF(20, 20), 6, 6);
            p.drawLine(24, 24, 29, 29);
        }
        break;
    case Tool::ManageConnection:
        p.setPen(QPen(kInk, 2));
        p.drawLine(6, 16, 26, 16);
        p.setBrush(QColor(120, 170, 230));
        p.drawRect(3, 11, 8, 10);
        p.drawRect(21, 11, 8, 10);
        break;
    case Tool::InstrumentSettings:
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(QColor(220, 225, 235));
        p.drawRoundedRect(5, 4, 22, 24, 3, 3);
        Label(p, QStringLiteral("i"), kInk, 16);
        break;
    case Tool::Import:
    case Tool::Export: {
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(QColor(220, 225, 235));
        p.drawRect(3, 18, 26, 10);
        QPainterPath arrow;
        const bool in = tool == Tool::Import;
        arrow.moveTo(16, in ? 18 : 3);
        arrow.lineTo(9, in ? 10 : 10);
        arrow.lineTo(23, 10);
        arrow.closeSubpath();
        p.setBrush(in ? kFlow : kPressure);
        p.drawRect(13, in ? 3 : 10, 6, 8);
        p.drawPath(arrow);
        break;
    }
    case Tool::PressureGraph:
        Graph(p, kPressure, {{6, 26}, {14, 22}, {20, 12}, {28, 6}});
        break;
    case Tool::AverageFlowGraph:
        Graph(p, QColor(0, 0, 200), {{6, 20}, {12, 14}, {20, 13}, {28, 13}});
        break;
    case Tool::VolumeGraph:
        Graph(p, QColor(120, 0, 160), {{6, 26}, {28, 6}});
        break;
    case Tool::InstantFlowGraph:
        Graph(p, kFlow, {{6, 16}, {10, 10}, {14, 18}, {18, 9}, {22, 17}, {28, 12}});
        break;
    case Tool::TrumpetCurve:
        p.setPen(QPen(kInk, 2));
        p.drawLine(4, 16, 28, 16);
        p.setPen(QPen(kPressure, 2));
        p.drawPolyline(QPolygonF({{4, 4}, {12, 11}, {28, 14}}));
        p.drawPolyline(QPolygonF({{4, 28}, {12, 21}, {28, 18}}));
        break;
    case Tool::PcaGraph:
        Graph(p, QColor(200, 100, 0),
              {{6, 24}, {11, 24}, {11, 8}, {15, 8}, {15, 24}, {22, 24}, {22, 8}, {26, 8}});
        break;
    case Tool::BolusDetails:
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(QColor(255, 245, 200));
        p.drawRect(4, 6, 24, 20);
        Label(p, QStringLiteral("B"), QColor(200, 100, 0), 14);
        break;
    case Tool::GridLines:
        p.setPen(QPen(QColor(110, 110, 110), 1));
        for (int k = 6; k <= 26; k += 5) {
            p.drawLine(k, 5, k, 27);
            p.drawLine(5, k, 27, k);
        }
        break;
    case Tool::Kpa:
        Label(p, QStringLiteral("kPa"), kInk);
        break;
    case Tool::Psi:
        Label(p, QStringLiteral("psi"), kInk);
        break;
    case Tool::MmHg:
        Label(p, QStringLiteral("mmHg"), kInk, 9);
        break;
    case Tool::HelpIndex:
    case Tool::ContextHelp:
        p.setPen(QPen(kInk, 1.5));
        p.setBrush(QColor(250, 240, 160));
        p.drawEllipse(QPointF(16, 16), 12, 12);
        Label(p, QStringLiteral("?"), kInk, 18);
        if (tool == Tool::ContextHelp) {
            p.setBrush(Qt::white);
            p.drawPolygon(
                QPolygonF({{2, 2}, {2, 14}, {5, 11}, {8, 16}, {10, 15}, {7, 10}, {11, 10}}));
        }
        break;
    case Tool::Application:
    case Tool::Count: {
        QLinearGradient g(0, 0, 32, 32);
        g.setColorAt(0, QColor(60, 140, 220));
        g.setColorAt(1, QColor(20, 70, 150));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRoundedRect(2, 2, 28, 28, 6, 6);
        QPainterPath drop;
        drop.moveTo(16, 6);
        drop.cubicTo(24, 16, 24, 26, 16, 26);
        drop.cubicTo(8, 26, 8, 16, 16, 6);
        p.setBrush(Qt::white);
        p.drawPath(drop);
        break;
    }
    }
}

QImage Blank(int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

} // namespace

QImage ToolImage(Tool tool, QIcon::Mode mode) {
    QImage img = Blank(32, 32);
    {
        QPainter p(&img);
        if (mode == QIcon::Active) {
            p.setPen(QColor(90, 130, 200));
            p.setBrush(QColor(210, 225, 250));
            p.drawRoundedRect(0, 0, 31, 31, 4, 4);
        }
        DrawTool(p, tool);
    }
    if (mode == QIcon::Disabled) {
        for (int y = 0; y < img.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x) {
                const int a = qAlpha(line[x]);
                const int g = qGray(line[x]) / 2 + 100 * a / 255;
                line[x] = qPremultiply(qRgba(g, g, g, a / 2));
            }
        }
    }
    return img;
}

QIcon ToolIcon(Tool tool) {
    QIcon icon;
    for (QIcon::Mode mode : {QIcon::Normal, QIcon::Active, QIcon::Disabled})
        icon.addPixmap(QPixmap::fromImage(ToolImage(tool, mode)), mode);
    return icon;
}

QPixmap BatteryImage(Battery state) {
    QImage img = Blank(32, 16);
    QPainter p(&img);
    p.setPen(QPen(QColor(50, 50, 50), 1));
    p.setBrush(Qt::white);
    p.drawRect(1, 2, 26, 11);
    p.fillRect(28, 5, 3, 5, QColor(50, 50, 50));
    const int level = state == Battery::Normal ? 24 : state == Battery::Low ? 8 : 2;
    const QColor c = state == Battery::Normal ? QColor(40, 170, 60)
                     : state == Battery::Low  ? QColor(240, 170, 0)
                                              : QColor(210, 30, 30);
    p.fillRect(2, 3, level, 10, c);
    p.end();
    return QPixmap::fromImage(img);
}

QIcon ApplicationIcon() {
    return ToolIcon(Tool::Application);
}

QIcon BatteryLowIcon() {
    return QIcon(BatteryImage(Battery::Low));
}

QIcon BatteryEmptyIcon(int phase) {
    QImage img = BatteryImage(Battery::Empty).toImage();
    QPainter p(&img);
    // Three pictures shown in turn make the icon blink.
    p.setPen(QPen(QColor(210, 30, 30), 2));
    if (phase == 1) p.drawLine(4, 14, 24, 1);
    if (phase == 2) p.fillRect(0, 0, 32, 16, QColor(255, 255, 255, 120));
    p.end();
    return QIcon(QPixmap::fromImage(img));
}

QImage Background() {
    QImage img(1024, 768, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 768);
    g.setColorAt(0, QColor(210, 222, 238));
    g.setColorAt(1, QColor(160, 180, 210));
    p.fillRect(img.rect(), g);
    p.setPen(QColor(255, 255, 255, 90));
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(64);
    f.setBold(true);
    p.setFont(f);
    p.drawText(img.rect(), Qt::AlignCenter, QStringLiteral("Rivuletrix"));
    return img;
}

QImage SplashPicture() {
    QImage img(480, 280, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 480, 280);
    g.setColorAt(0, QColor(30, 90, 170));
    g.setColorAt(1, QColor(10, 40, 90));
    p.fillRect(img.rect(), g);
    p.drawImage(QRect(40, 90, 96, 96), ToolImage(Tool::Application, QIcon::Normal));
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(44);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRect(160, 90, 300, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Rivuletrix"));
    f.setPixelSize(16);
    f.setBold(false);
    p.setFont(f);
    p.drawText(QRect(162, 145, 300, 30), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Infusion pump testing"));
    return img;
}

} // namespace artwork
