#pragma once

// The main window connected to one simulated analyzer as a user connects it:
// through the connection manager's search.
#include "../link/SimProcess.h"
#include "ConnectThroughManager.h"
#include "MainWindowTest.h"

#include <QTest>

class BenchWindowTest : public MainWindowTest {
protected:
    std::unique_ptr<SimProcess> m_sim;

    // A simulator run with simArgs, the program started on it as main starts
    // it, and the analyzer found and connected: its first channel window is open.
    void Bench(const QStringList& simArgs, QSize size = {1400, 900}) {
        m_sim = std::make_unique<SimProcess>(QStringLiteral("gui"), simArgs);
        QVERIFY(m_sim->Ok());
        qputenv("RIVULETRIX_PORTS", m_sim->Link().toLocal8Bit());
        StartAsMain(size);
        auto dlg = SearchAnalyzers(*m_app, *m_frame);
        ConnectAllFound(*dlg);
        dlg->close();
        QTRY_VERIFY_WITH_TIMEOUT(m_frame->ChannelWindowAt(1, 1), 10000);
    }
    void CloseBench() {
        Close();
        m_sim.reset();
    }
};
