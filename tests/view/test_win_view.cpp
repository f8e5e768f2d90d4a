// The channel view widget under the offscreen platform: live redraws
// coalesced to 25 frames a second, command enabling and check marks, box
// moving with the mouse, the trumpet failure message, the screen image.
#include "SyntheticRecords.h"

#include "base/AppSettings.h"
#include "base/Prompter.h"
#include "records/RivuletrixDoc.h"
#include "view/RivuletrixWinView.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void LoadInto(CRivuletrixDoc& doc, const QByteArray& text) {
    synth::Load(doc, text);
    Q_EMIT doc.UpdateAllViews();
}

// Lets queued paints happen.
void Settle(CRivuletrixWinView& view) {
    for (int k = 0; k < 6; ++k) {
        QTest::qWait(CRivuletrixWinView::kMinFrameMs / 2 + 5);
        QApplication::processEvents();
    }
    (void)view;
}

} // namespace

class TestWinView : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Samples far faster than 25 a second never give more than 25 frames a
    // second, and the last sample is always drawn.
    void liveRedrawsCoalesced() {
        CRivuletrixDoc doc;
        doc.Clock = [] { return qint64(0); };
        doc.TestType = 'F';
        doc.SetFlowRate = 20;
        doc.Run.live = doc.Run.running = true;
        CRivuletrixWinView view(&doc);
        view.resize(800, 500);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        Settle(view);
        const int before = view.FrameCount();
        QElapsedTimer clock;
        clock.start();
        uint32_t v = 0;
        int i = 1;
        while (clock.elapsed() < 1000) {
            v += 60;
            doc.AddSample(synth::Line(' ', uint32_t(i) * 100, v, 12));
            ++i;
            QTest::qWait(2);
        }
        const qint64 elapsed = clock.elapsed();
        Settle(view);
        const int frames = view.FrameCount() - before;
        QVERIFY2(i > 200, "samples must arrive faster than frames");
        QVERIFY(frames >= 5);
        QVERIFY2(frames <= elapsed / CRivuletrixWinView::kMinFrameMs + 3,
                 qPrintable(QStringLiteral("%1 frames in %2 ms").arg(frames).arg(elapsed)));
        // The picture shows the latest samples: the live window has grown
        // past one minute only if drawn after them.
        QCOMPARE(view.LastResult().plotOk, true);
        QVERIFY(doc.LiveWindowMinutes >= 1);
        QCOMPARE(view.State().timeMax, uint32_t(doc.LiveWindowMinutes) * 60000u);
    }

    // Enabling and check marks by record type.
    void commandEnabling_data() {
        QTest::addColumn<char>("type");
        QTest::addColumn<QList<int>>("enabled");
        QTest::addColumn<QList<int>>("disabled");
        using namespace viewcmd;
        QTest::newRow("flow") << 'F'
                              << QList<int>{ShowAverageFlow, ShowDeliveredVolume,
                                            ShowInstantaneousFlow, ShowTrumpetCurve, GridLines}
                              << QList<int>{ShowPressure, UnitMmHg,        UnitPsi,
                                            UnitKpa,      ShowPcaDualFlow, ShowBolusDetails};
        QTest::newRow("occlusion")
            << 'O' << QList<int>{ShowPressure, UnitMmHg, UnitPsi, UnitKpa, GridLines}
            << QList<int>{ShowAverageFlow, ShowDeliveredVolume, ShowInstantaneousFlow,
                          ShowTrumpetCurve, ShowPcaDualFlow};
        QTest::newRow("pca") << 'P'
                             << QList<int>{ShowDeliveredVolume, ShowPcaDualFlow, ShowBolusDetails}
                             << QList<int>{ShowAverageFlow, ShowPressure, ShowInstantaneousFlow,
                                           ShowTrumpetCurve, UnitPsi};
    }
    void commandEnabling() {
        QFETCH(char, type);
        QFETCH(QList<int>, enabled);
        QFETCH(QList<int>, disabled);
        CRivuletrixDoc doc;
        if (type == 'F') LoadInto(doc, synth::Flow(10, 1000, 100));
        if (type == 'O') LoadInto(doc, synth::Occlusion(100, 1000, 300, 200));
        if (type == 'P') LoadInto(doc, synth::Pca(2, 1, 50, 5, 1));
        CRivuletrixWinView view(&doc);
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        Settle(view);
        view.UpdateActions();
        for (int id : enabled)
            QVERIFY2(view.Action(id)->isEnabled(), qPrintable(QString::number(id)));
        for (int id : disabled)
            QVERIFY2(!view.Action(id)->isEnabled(), qPrintable(QString::number(id)));
        // Check marks follow the defaults of the type.
        QCOMPARE(view.Action(viewcmd::ShowAverageFlow)->isChecked(), type == 'F');
        QCOMPARE(view.Action(viewcmd::ShowPressure)->isChecked(), type == 'O');
        QCOMPARE(view.Action(viewcmd::ShowPcaDualFlow)->isChecked(), type == 'P');
        QVERIFY(view.Action(viewcmd::GridLines)->isChecked());
        QVERIFY(view.Action(viewcmd::ShowKey)->isChecked());
    }

    // The status bar prompt and the tool tip of each command are texts of
    // their own.
    void promptsAndTips_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("tip");
        using namespace viewcmd;
        const struct {
            int id;
            const char *prompt, *tip;
        } rows[] = {
            {ShowKey, "Show or hide the key box", "Show / Hide Key Box"},
            {ShowTestParameters, "Display Test Parameters.", "Display Test Parameters"},
            {ShowTestDetails, "Display Test Details.", "Display Test Details"},
            {ShowDataTable, "View the test data as a table", "View Data Table"},
            {ShrinkYAxis, "Shrink Y-Axis", "Shrink Y-Axis"},
            {GridLines, "Show / Hide Grid Lines on graph", "Grid Lines"},
            {UnitPsi, "Set Pressure Units to psi", "Pressure = psi"},
            {ShowPressure, "Show or hide Pressure graph", "Pressure Graph"},
            {ShowAverageFlow, "Show or hide the Average Flow Rate graph",
             "Average Flow Rate Graph"},
            {ShowDeliveredVolume, "Show or hide the Delivered Volume graph",
             "Delivered Volume Graph"},
            {ShowInstantaneousFlow, "Show or hide Instantaneous Flow Rate graph",
             "Instantaneous Flow Graph"},
            {ShowPcaDualFlow, "Show or hide PCA /Dual Flow graph", "PCA /Dual Flow graph"},
            {ShowBolusDetails, "Show or Hide PCA/Dual Bolus/Secondary Details",
             "Bolus/Secondary Details"},
            {ShowTrumpetCurve, "Show Trumpet Curve", "Trumpet Curve"},
        };
        for (const auto& r : rows)
            QTest::newRow(r.tip) << r.id << QString(r.prompt) << QString(r.tip);
    }
    void promptsAndTips() {
        QFETCH(int, id);
        QFETCH(QString, prompt);
        QFETCH(QString, tip);
        CRivuletrixDoc doc;
        CRivuletrixWinView view(&doc);
        QAction* a = view.Action(id);
        QVERIFY(a);
        QCOMPARE(a->statusTip(), prompt);
        QCOMPARE(a->toolTip(), tip);
    }

    // Toggles change the state, the check mark and the picture.
    void togglesRedraw() {
        CRivuletrixDoc doc;
        LoadInto(doc, synth::Flow(10, 1000, 600, 0.3));
        CRivuletrixWinView view(&doc);
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        Settle(view);
        const QImage before = view.LastImage();
        view.Action(viewcmd::GridLines)->trigger();
        Settle(view);
        QVERIFY(!view.State().grid);
        QVERIFY(!view.Action(viewcmd::GridLines)->isChecked());
        QVERIFY(view.LastImage() != before);
        view.Action(viewcmd::ShowInstantaneousFlow)->trigger();
        Settle(view);
        QVERIFY(view.LastResult().keyItems.contains("Instantaneous Flow"));
        view.Action(viewcmd::ShowKey)->trigger();
        Settle(view);
        QVERIFY(!doc.ShowKey);
        QVERIFY(!view.State().keyBox.drawn);
    }

    // Click inside the key picks it up (grey), a click near the right edge
    // puts it down flush with the right limit.
    void moveKeyBox() {
        CRivuletrixDoc doc;
        LoadInto(doc, synth::Flow(10, 1000, 600));
        CRivuletrixWinView view(&doc);
        view.resize(1000, 700);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        Settle(view);
        ViewState& st = view.State();
        QVERIFY(st.keyBox.drawn);
        const QPoint inside = st.keyBox.Rect().center();
        QTest::mouseClick(view.Canvas(), Qt::LeftButton, {}, inside);
        Settle(view);
        QVERIFY(st.keyBox.pickedUp);
        QCOMPARE(view.LastImage().pixel(st.keyBox.x + 5, st.keyBox.y + st.keyBox.height - 4) &
                     0xffffff,
                 0xc0c0c0u);
        QTest::mouseClick(view.Canvas(), Qt::LeftButton, {}, QPoint(st.rightLimit - 3, 200));
        Settle(view);
        QVERIFY(!st.keyBox.pickedUp);
        QCOMPARE(st.keyBox.x, st.rightLimit - st.keyBox.width);
        QCOMPARE(st.keyBox.y, std::max(st.topLimit + 1, 200 - st.keyBox.height / 2));
        // A click on nothing changes nothing.
        const int frames = view.FrameCount();
        QTest::mouseClick(view.Canvas(), Qt::LeftButton, {}, QPoint(st.left + 5, st.bottom - 5));
        Settle(view);
        QCOMPARE(view.FrameCount(), frames);
    }

    void trumpetFailureMessage() {
        ScriptedPrompter prompter;
        SetPrompter(&prompter);
        CRivuletrixDoc doc;
        LoadInto(doc, synth::Flow(10, 10000, 400));
        CRivuletrixWinView view(&doc);
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        Settle(view);
        QVERIFY(view.Action(viewcmd::ShowTrumpetCurve)->isEnabled());
        view.Action(viewcmd::ShowTrumpetCurve)->trigger();
        Settle(view);
        SetPrompter(nullptr);
        QCOMPARE(prompter.messages.count("\nNot enough data to calculate Trumpet Curve"), 1);
        QVERIFY(!view.State().showTrumpet);
        QVERIFY(!view.Action(viewcmd::ShowTrumpetCurve)->isChecked());
        QVERIFY(view.LastResult().plotOk);
    }

    // The pressure unit comes from "DefaultPressureUnit" at the start; a
    // missing settings file leaves mmHg and shows nothing.
    void pressureUnitFromSettings() {
        QTemporaryDir dir;
        QFile loc(dir.filePath("RivuletrixIniFilePath.ini"));
        QVERIFY(loc.open(QIODevice::WriteOnly));
        loc.write("[INIFilePath]\nINIFilePathWin7=" + dir.path().toUtf8() + "\n");
        loc.close();
        QFile ini(dir.filePath("RivuletrixApp.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Default Parameters]\nDefaultPressureUnit=psi\nGraphLineWidth=3\n");
        ini.close();
        CRivuletrixDoc doc;
        LoadInto(doc, synth::Occlusion(300, 1000, 800, 600));
        const AppSettings settings(dir.path());
        CRivuletrixWinView view(&doc, nullptr, &settings);
        QCOMPARE(view.State().pressureUnit, 1);
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        Settle(view);
        QVERIFY(view.Action(viewcmd::UnitPsi)->isChecked());
        view.Action(viewcmd::UnitKpa)->trigger();
        Settle(view);
        QVERIFY(view.Action(viewcmd::UnitKpa)->isChecked());
        QVERIFY(!view.Action(viewcmd::UnitPsi)->isChecked());

        ScriptedPrompter prompter;
        SetPrompter(&prompter);
        QTemporaryDir empty;
        const AppSettings none(empty.path());
        CRivuletrixWinView plain(&doc, nullptr, &none);
        SetPrompter(nullptr);
        QCOMPARE(plain.State().pressureUnit, 0);
        QVERIFY(prompter.messages.isEmpty());
    }

    // A finished test asks for the screen image: written once, then cleared.
    void screenImage() {
        QTemporaryDir dir;
        const QString old = QDir::currentPath();
        QDir::setCurrent(dir.path());
        CRivuletrixDoc doc;
        LoadInto(doc, synth::Flow(10, 1000, 300));
        CRivuletrixWinView view(&doc);
        view.resize(640, 480);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        Settle(view);
        QVERIFY(!QFile::exists("DC_Image.bmp"));
        doc.ScreenImageRequested = true;
        Q_EMIT doc.UpdateAllViews();
        Settle(view);
        QDir::setCurrent(old);
        QVERIFY(!doc.ScreenImageRequested);
        const QImage img(dir.filePath("DC_Image.bmp"));
        QCOMPARE(img.size(), view.Canvas()->size());
    }
};

QTEST_MAIN(TestWinView)
#include "test_win_view.moc"
