#pragma once

// A connected simulated analyzer with live channel documents and their run
// controllers, without windows: the pieces the run tests and the command-line
// run share.
#include "../link/SimProcess.h"
#include "WorkingFolderFixture.h"

#include "app/AnalyzerPoll.h"
#include "app/HeadlessChannelHost.h"
#include "app/RivuletrixApp.h"
#include "base/Prompter.h"
#include "link/Device.h"
#include "link/PortScanner.h"
#include "records/RivuletrixDoc.h"
#include "store/RecordIndex.h"
#include "testing/RunController.h"
#include "testing/SetupSheetRunner.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <map>
#include <memory>

// Fills the parameter block as if the user had typed it.
class ScriptedSheet : public SetupSheetRunner {
public:
    ChannelSetup setup;
    bool accept = true;
    bool RunSetupSheet(CDevice& device, int channelIndex, const QString&, bool) override {
        if (!accept) return false;
        device.Setup[channelIndex] = setup;
        return true;
    }
};

