#pragma once

#include <QStringList>

class CMainFrame;
class CRivuletrixApp;
struct WorkingFolder;

// The program's start once its working folder is known: settings and stores,
// the maximised main window, the first-start notice, the records named on the
// command line and the offer to recover tests a crash left behind.
void StartMainWindow(CRivuletrixApp& app, CMainFrame& frame, const WorkingFolder& work,
                     const QStringList& records);
