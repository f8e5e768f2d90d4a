#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// Help Manual and About.
namespace help {

// Where the manual is looked for, in order: beside the working directory, in
// the shared data folder of an installation, beside the program.
QStringList ManualCandidates();
// The first manual found, or empty.
QString ManualPath();

// The version and build of this program, one fact a line.
QString AboutText();

} // namespace help

// Opens the manual in the system browser, or in a help window of our own
// where no browser takes it; "Help file not found" when it is missing.
void OpenHelpManual(QWidget* parent);
void ShowAboutBox(QWidget* parent);
