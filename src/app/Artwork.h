#pragma once

#include <QIcon>
#include <QImage>
#include <QPixmap>

// The program's pictures, drawn rather than shipped: toolbar images, battery
// indicators, notification-area icons, the background and the splash.
namespace artwork {

enum class Tool {
    OpenRecords,
    OpenTemplates,
    Print,
    PrintPreview,
    ManageConnection,
    InstrumentSettings,
    Import,
    Export,
    PressureGraph,
    AverageFlowGraph,
    VolumeGraph,
    InstantFlowGraph,
    TrumpetCurve,
    PcaGraph,
    BolusDetails,
    GridLines,
    Kpa,
    Psi,
    MmHg,
    HelpIndex,
    ContextHelp,
    Application, // the 22nd image: the program's own
    Count
};

// 32 x 32, with normal, hot (active) and disabled variants.
QIcon ToolIcon(Tool tool);
QImage ToolImage(Tool tool, QIcon::Mode mode);

enum class Battery { Normal, Low, Empty };
QPixmap BatteryImage(Battery state);

QIcon ApplicationIcon();
QIcon BatteryLowIcon();
QIcon BatteryEmptyIcon(int phase); // 0..2

QImage Background(); // 1024 x 768
QImage SplashPicture();

} // namespace artwork
