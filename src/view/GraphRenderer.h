#pragma once

#include "view/RenderContext.h"

#include <QImage>
#include <QStringList>

class AppSettings;
class CRivuletrixDoc;

// Draws one record as the channel window shows it (graph or trumpet curve,
// boxes, key and banner) with a QPainter on any paint device: the window's
// off-screen image, a PNG, a PDF page or a printer.
class GraphRenderer {
public:
    struct Result {
        bool trumpetFailed = false; // the flag went off; show FailureText
        bool needsRedraw = false;   // a bolus outgrew the flow scale
        bool plotOk = false;
        QRect plot;           // (left, top, right, bottom + 1)
        QStringList keyItems; // entries of the key for this redraw
        QString timeTitle;    // "Seconds", "Minutes" or "Hours"; empty without a time axis
    };

    static Result Render(QPainter& painter, CRivuletrixDoc& doc, ViewState& state,
                         const RenderTarget& target, const RenderOptions& options = {});

    // Maxima of step 2 into the state (flow maximum only grows).
    static void ComputeMaxima(CRivuletrixDoc& doc, ViewState& state);

    // Writes an image as an uncompressed 24-bit bottom-up bitmap file;
    // false when the file cannot be written.
    static bool WriteBitmap(const QImage& image, const QString& path);

    // Title line of the channel window.
    static QString TitleLine(const CRivuletrixDoc& doc, int templateStepIndex);

    // A "Default Parameters" setting read without any message when the
    // settings cannot be found (redraws read it often); empty then.
    static QString QuietSetting(const AppSettings& settings, const QString& key);
    // The settings file the working folder names, or empty when there is none.
    static QString QuietSettingsFile(const AppSettings& settings);

    // "GraphLineWidth" text to a width: decimal digits after optional blanks
    // and sign; anything else 0.
    static int LineWidthFromText(const QString& text);
};
