// The long run: sixteen channels on four simulated analyzers at 10 Hz, two
// analyzers unplugged and plugged in again on another port (reconnected
// through the connection manager), one test saved while the others go on.
// With the widgets build every channel has its live window (offscreen); the
// ThreadSanitizer build has no widgets and runs the same channels without a
// screen. Checks: every sample a simulator got out is in its window and in
// its saved record, once; memory grows with the samples only.
//
// Not in the default run (label "soak"). RX_SOAK_SECONDS sets the length of
// the tests (1800 by default); the figures are printed at the end.
#include "../link/TestMain.h"
#include "../testing/RunFixture.h"
#include "records/Sample.h"

#ifdef RX_SOAK_WINDOWS
#include "../app/ConnectThroughManager.h"
#include "app/ChannelWindow.h"
#include "app/MainFrame.h"
#include "app/ManageConnectionDlg.h"

#include <QPushButton>
#include <QTreeWidget>
#endif

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>

namespace {

constexpr int kAnalyzers = 4;
constexpr int kChannels = 4;
constexpr int kRateHz = 10;

long RssKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Saves every result and prints none.
class SoakPrompter : public Prompter {
public:
    QStringList messages;
    void Message(const QString& text, Icon) override { messages << text; }
    bool Question(const QString& text, Icon) override {
        return !text.contains(QStringLiteral("print"), Qt::CaseInsensitive);
    }
};

} // namespace

class TestSoak : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    SoakPrompter m_prompter;
    ScriptedSheet m_sheet;
    std::unique_ptr<CRivuletrixApp> m_app;
#ifdef RX_SOAK_WINDOWS
    std::unique_ptr<CMainFrame> m_frame;
#else
    HeadlessChannelHost m_host;
    QTimer m_poll;
#endif
    std::vector<std::unique_ptr<SimProcess>> m_sims;
    QStringList m_moved; // the port each analyzer comes back on
    int m_reconnects = 0;

    RunController& Run(int slot, int channel) {
#ifdef RX_SOAK_WINDOWS
        return *m_frame->ChannelWindowAt(slot, channel)->Run();
#else
        return *m_host.channels.at(slot * 10 + channel).run;
#endif
    }
    CRivuletrixDoc& Doc(int slot, int channel) {
        return *m_app->ChannelDocs[slot - 1][channel - 1];
    }
    int Samples(int slot, int channel) {
        return Doc(slot, channel).StoredCount() - 1;
    }
    // Which analyzer (1..4, by its serial number 8000000k) is in the slot:
    // slots follow the search's order.
    int AnalyzerIn(int slot) const {
        return m_app->Device(slot)->SerialNumber.trimmed().right(1).toInt();
    }
    SimProcess& Sim(int slot) {
        return *m_sims[size_t(AnalyzerIn(slot) - 1)];
    }

    void ConnectAll() {
        QStringList ports;
        for (const auto& s : m_sims) ports << s->Link();
        ports += m_moved;
        qputenv("RIVULETRIX_PORTS", ports.join(QLatin1Char(':')).toLocal8Bit());
#ifdef RX_SOAK_WINDOWS
        m_frame = std::make_unique<CMainFrame>(*m_app);
        m_frame->resize(1600, 1000);
        m_frame->show();
        auto dlg = SearchAnalyzers(*m_app, *m_frame);
        ConnectAllFound(*dlg);
        dlg->close();
#else
        m_host.app = m_app.get();
        m_host.sheet = &m_sheet;
        m_app->SetWindowHost(&m_host);
        PortScanner& scanner = m_app->Scanner();
        scanner.ScanUsbPorts();
        for (FoundAnalyzer record : scanner.Found()) {
            QVERIFY(scanner.Add(record.serialNumber));
            const int slot = m_app->FreeSlot();
            QCOMPARE(m_app->ConnectAnalyzer(slot, record), slot);
            record.added = 1;
            record.connected = 1;
            scanner.Update(record);
        }
        connect(&m_poll, &QTimer::timeout, &m_app->Poll(), &AnalyzerPoll::Poll);
        m_poll.start(1000);
#endif
        QCOMPARE(m_app->ConnectedCount, kAnalyzers);
        QCOMPARE(m_app->ChannelCount, kAnalyzers * kChannels);
    }

    // The lost analyzer of the slot is back on its new port: Connect.
    void Reconnect(int slot) {
        const QString serial = m_app->Device(slot)->SerialNumber;
#ifdef RX_SOAK_WINDOWS
        CManageConnectionDlg dlg(*m_app, false, m_frame.get());
        dlg.show();
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.Searching(), 10000);
        QTreeWidget* ready = dlg.ReadyList();
        for (int k = 0; k < ready->topLevelItemCount(); ++k)
            if (ready->topLevelItem(k)->text(1) == serial)
                ready->setCurrentItem(ready->topLevelItem(k));
        QVERIFY(ready->currentItem());
        QVERIFY(ready->currentItem()->text(0).endsWith(QStringLiteral(" - lost")));
        QTest::mouseClick(dlg.Button(QStringLiteral("Connect")), Qt::LeftButton);
        QTest::mouseClick(dlg.Button(QStringLiteral("E&xit")), Qt::LeftButton);
#else
        PortScanner& scanner = m_app->Scanner();
        FoundAnalyzer record;
        QStringList inUse;
        for (const FoundAnalyzer& a : scanner.Ready()) {
            if (a.serialNumber == serial)
                record = a;
            else if (a.connected && !a.lost)
                inUse << a.portName;
        }
        QVERIFY(record.lost);
        record.portName = scanner.Locate(serial, inUse);
        QVERIFY(!record.portName.isEmpty());
        QCOMPARE(m_app->ReconnectAnalyzer(slot, record), slot);
        scanner.Update(record);
#endif
        QVERIFY(!m_app->Device(slot)->IsLost());
        ++m_reconnects;
    }

    // End Test on a test the analyzer ended; the results are saved. Every
    // sample sent is in the window and in the record.
    void EndAndCheck(int slot, int channel, QString& path) {
        const int sent = Sim(slot).SamplesSent(channel);
        QTRY_COMPARE_WITH_TIMEOUT(Samples(slot, channel), sent, 5000);
        QSignalSpy finished(&Run(slot, channel), &RunController::TestFinished);
        m_app->CurrentAnalyzer = slot;
        Run(slot, channel).OnEndTest();
        QVERIFY(finished.count() > 0 || finished.wait(20000));
        path = Run(slot, channel).LastSavedPath();
        QVERIFY2(!path.isEmpty(), qPrintable(m_prompter.messages.join(QLatin1Char('|'))));
        CRivuletrixDoc record;
        QString error;
        QVERIFY2(record.ReadRecordFile(path, &error), qPrintable(error));
        QCOMPARE(record.StoredCount() - 1, sent);
        // Once each, in order.
        for (int i = 2; i < record.StoredCount(); ++i)
            QVERIFY(record.ElapsedTicks(i) > record.ElapsedTicks(i - 1));
    }

private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("pxr-sim not built");
        QVERIFY(MakeWorkingFolder(m_dir.path()));
        SetPrompter(&m_prompter);
        m_app = std::make_unique<CRivuletrixApp>(m_dir.path());
        m_app->StartupSettings();
        m_app->Initialised = true;
        m_app->Records().SetStartupFinished(true);
    }
    void cleanupTestCase() {
        if (m_app)
            for (FoundAnalyzer r : m_app->Scanner().Ready())
                if (r.connected) m_app->DisconnectAnalyzer(r.slot, r);
#ifdef RX_SOAK_WINDOWS
        m_frame.reset();
#else
        m_host.channels.clear();
#endif
        m_app.reset();
        m_sims.clear();
        SetPrompter(nullptr);
    }

    void sixteenChannelsWithUnplugsAndASave() {
        const int seconds = qEnvironmentVariableIntValue("RX_SOAK_SECONDS") > 0
                                ? qEnvironmentVariableIntValue("RX_SOAK_SECONDS")
                                : 1800;
        const int samples = seconds * kRateHz;
        QElapsedTimer clock;
        clock.start();
        // The analyzers end their tests after so many samples; channel 1 of
        // the first one halfway, to be saved while the others go on. The
        // second and third are unplugged at a third and two thirds of the run
        // and come back on another port three seconds later.
        for (int k = 1; k <= kAnalyzers; ++k) {
            const QString moved = m_dir.filePath(QStringLiteral("moved-%1").arg(k));
            m_moved << moved;
            QStringList args{"--model",         "PXR-8",
                             "--name",          QStringLiteral("Soak %1").arg(k),
                             "--serial",        QStringLiteral("8000000%1").arg(k),
                             "--sample-period", "100",
                             "--prime-delay",   "300"};
            for (int c = 1; c <= kChannels; ++c)
                args << "--profile"
                     << QStringLiteral("%1:flow,rate=%2,noise=0.5,samples=%3")
                            .arg(c)
                            .arg(20 * k + c)
                            .arg(k == 1 && c == 1 ? samples / 2 : samples);
            // Its tests are held from the unplug until the program has the
            // port open again: lines sent while nobody listens are lost, as
            // on the real cable, and could not be counted.
            if (k == 2 || k == 3)
                args << "--do"
                     << QStringLiteral("after RUN; after %1s hold on 1; hold on 2; hold on 3; "
                                       "hold on 4; unplug; after 3s replug %2; after LOG resume "
                                       "on 1; resume on 2; resume on 3; resume on 4")
                            .arg(k == 2 ? seconds / 3 : 2 * seconds / 3)
                            .arg(moved);
            m_sims.push_back(std::make_unique<SimProcess>(QStringLiteral("soak%1").arg(k), args));
            QVERIFY(m_sims.back()->Ok());
        }
        ConnectAll();
        if (QTest::currentTestFailed()) return;

        // Every channel set up, then started once primed.
        for (int slot = 1; slot <= kAnalyzers; ++slot)
            for (int c = 1; c <= kChannels; ++c) {
                m_sheet.setup = ChannelSetup{};
                m_sheet.setup.equipment.typeIndex = 1;
                m_sheet.setup.equipment.controlNumber =
                    QStringLiteral("SOAK-%1-%2").arg(slot).arg(c);
                m_sheet.setup.equipment.operatorName = QStringLiteral("JS");
                m_sheet.setup.flow.setFlowRate = 20 * slot + c;
#ifdef RX_SOAK_WINDOWS
                Run(slot, c).SetSetupSheet(&m_sheet);
#endif
                m_app->CurrentAnalyzer = slot;
                Run(slot, c).OnSetupTest();
            }
        for (int slot = 1; slot <= kAnalyzers; ++slot)
            for (int c = 1; c <= kChannels; ++c) {
                QTRY_VERIFY_WITH_TIMEOUT(Run(slot, c).StartEnabled(), 20000);
                m_app->CurrentAnalyzer = slot;
                Run(slot, c).OnStartTest();
                QCOMPARE(Run(slot, c).CurrentState(), RunController::State::Running);
            }
        const double startedAt = clock.elapsed() / 1000.0;
        QTest::qWait(5000);
        const long rssStart = RssKb();
        long rssMiddle = 0, rssEnd = 0;

        int first = 1; // the first analyzer's slot
        for (int slot = 1; slot <= kAnalyzers; ++slot)
            if (AnalyzerIn(slot) == 1) first = slot;

        QElapsedTimer run;
        run.start();
        QString savedMidway;
        int savedMidwaySamples = 0;
        for (;;) {
            QTest::qWait(200);
            for (int slot = 1; slot <= kAnalyzers; ++slot)
                if (m_app->Device(slot)->IsLost() && QFile::exists(m_moved[AnalyzerIn(slot) - 1])) {
                    Reconnect(slot);
                    if (QTest::currentTestFailed()) return;
                }
            if (savedMidway.isEmpty() && Doc(first, 1).Run.stopDetected) {
                savedMidwaySamples = Samples(first, 1);
                EndAndCheck(first, 1, savedMidway);
                if (QTest::currentTestFailed()) return;
            }
            if (rssMiddle == 0 && run.elapsed() >= seconds * 500) rssMiddle = RssKb();
            bool allEnded = !savedMidway.isEmpty();
            for (int slot = 1; slot <= kAnalyzers; ++slot)
                for (int c = 1; c <= kChannels; ++c)
                    if (!(slot == first && c == 1))
                        allEnded = allEnded && Doc(slot, c).Run.stopDetected;
            if (allEnded) break;
            if (run.elapsed() > (seconds + 300) * 1000LL) QFAIL("the tests did not end in time");
        }
        QTest::qWait(500);
        rssEnd = RssKb();
        long total = savedMidwaySamples;
        QStringList counts;
        for (int slot = 1; slot <= kAnalyzers; ++slot)
            for (int c = 1; c <= kChannels; ++c) {
                if (slot == first && c == 1) {
                    counts << QString::number(savedMidwaySamples);
                    continue;
                }
                const int n = Samples(slot, c);
                total += n;
                counts << QString::number(n);
                QString path;
                EndAndCheck(slot, c, path);
                if (QTest::currentTestFailed()) return;
            }
        QCOMPARE(m_reconnects, 2);

        const double sampleMb = double(total) * sizeof(Sample) / (1024.0 * 1024.0);
        const double growthMb = double(rssEnd - rssStart) / 1024.0;
        std::printf("soak: %d s of tests (%.0f s in all, started after %.1f s), %d reconnects\n"
                    "soak: samples per channel %s (%ld in all, %.1f MB of samples)\n"
                    "soak: RSS start %.1f MB, middle %.1f MB, end %.1f MB (growth %.1f MB)\n",
                    seconds, clock.elapsed() / 1000.0, startedAt, m_reconnects,
                    qPrintable(counts.join(QLatin1Char(' '))), total, sampleMb, rssStart / 1024.0,
                    rssMiddle / 1024.0, rssEnd / 1024.0, growthMb);
        std::fflush(stdout);
        // Flat apart from the samples (the record, the live graph's series
        // and the journal's buffers each hold some per sample).
        QVERIFY2(growthMb < 4 * sampleMb + 48,
                 qPrintable(QStringLiteral("RSS grew %1 MB").arg(growthMb)));
    }
};

#ifdef RX_SOAK_WINDOWS
QTEST_MAIN(TestSoak)
#else
RX_LINK_TEST_MAIN(TestSoak)
#endif
#include "test_soak.moc"
