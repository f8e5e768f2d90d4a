// The channel commands of the main window's menu bar and toolbar reach the
// active channel window: saved Flow, Occlusion, PCA and template records are
// opened, and each command is given as a user gives it (the toolbar button
// where there is one, else the menu item). The visible effect is checked:
// the picture changes and the check mark follows, or the entry is disabled.
#include "../view/SyntheticRecords.h"
#include "MainWindowTest.h"

#include "app/ChannelWindow.h"
#include "app/MainFrame.h"
#include "app/RivuletrixApp.h"
#include "base/CommandIds.h"
#include "base/Prompter.h"
#include "view/RivuletrixWinView.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <memory>

namespace {
enum class Effect { Disabled, Picture, PictureAndCheck };

QByteArray RecordOf(const QString& type) {
    if (type == QLatin1String("Flow")) return synth::Flow(10.0, 10000, 750, 0.2); // 2 h 05 min
    if (type == QLatin1String("Occlusion")) return synth::Occlusion(600, 1000, 900, 700, -30);
    if (type == QLatin1String("PCA")) return synth::Pca(2.0, 4, 240, 12, 1.0);
    // A template record of two steps: Flow, then Occlusion.
    QByteArray flow = synth::Flow(12.5, 10000, 750, 0.1);
    QByteArray occl = synth::Occlusion(300, 1000, 600, 500);
    return "N2 Two steps\n" + flow + "E1\n" + occl + "E0";
}
} // namespace

Q_DECLARE_METATYPE(Effect)

class TestChannelCommands : public MainWindowTest {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        QVERIFY(NewWorkingFolder("GraphLineWidth=1\r\nDefaultPressureUnit=mmHg\r\n"));
        Start({1600, 1000});
    }
    void cleanup() { Close(); }

    void commandReachesTheActiveChannelWindow_data() {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("id");
        QTest::addColumn<Effect>("effect");
        using E = Effect;
        struct Cmd {
            int id;
            const char* name;
            E flow, occlusion, pca, tmpl;
        };
        const Cmd cmds[] = {
            {cmd::ShrinkYAxis, "shrink Y", E::Picture, E::Picture, E::Picture, E::Picture},
            {cmd::ExpandYAxis, "expand Y", E::Picture, E::Picture, E::Picture, E::Picture},
            {cmd::ResetYAxis, "reset Y", E::Picture, E::Picture, E::Picture, E::Picture},
            {cmd::ShowKey, "key", E::PictureAndCheck, E::PictureAndCheck, E::PictureAndCheck,
             E::PictureAndCheck},
            {cmd::ShowTestParameters, "test parameters", E::PictureAndCheck, E::PictureAndCheck,
             E::PictureAndCheck, E::PictureAndCheck},
            {cmd::ShowTestDetails, "test details", E::PictureAndCheck, E::PictureAndCheck,
             E::PictureAndCheck, E::PictureAndCheck},
            {cmd::ShowPressure, "pressure", E::Disabled, E::PictureAndCheck, E::Disabled,
             E::Disabled},
            {cmd::ShowAverageFlow, "average flow", E::PictureAndCheck, E::Disabled, E::Disabled,
             E::PictureAndCheck},
            {cmd::ShowDeliveredVolume, "delivered volume", E::PictureAndCheck, E::Disabled,
             E::PictureAndCheck, E::PictureAndCheck},
            {cmd::ShowInstantaneousFlow, "instantaneous flow", E::PictureAndCheck, E::Disabled,
             E::Disabled, E::PictureAndCheck},
            {cmd::ShowTrumpetCurve, "trumpet curve", E::PictureAndCheck, E::Disabled, E::Disabled,
             E::PictureAndCheck},
            {cmd::ShowPcaDualFlow, "PCA / dual flow", E::Disabled, E::Disabled, E::PictureAndCheck,
             E::Disabled},
            {cmd::ShowBolusDetails, "bolus details", E::Disabled, E::Disabled, E::PictureAndCheck,
             E::Disabled},
            {cmd::GridLines, "grid lines", E::PictureAndCheck, E::PictureAndCheck,
             E::PictureAndCheck, E::PictureAndCheck},
            {cmd::UnitKpa, "kPa", E::Disabled, E::PictureAndCheck, E::Disabled, E::Disabled},
            {cmd::UnitPsi, "psi", E::Disabled, E::PictureAndCheck, E::Disabled, E::Disabled},
            {cmd::UnitMmHg, "mmHg", E::Disabled, E::PictureAndCheck, E::Disabled, E::Disabled},
            {cmd::TemplateNextStep, "next step", E::Disabled, E::Disabled, E::Disabled, E::Picture},
            {cmd::TemplatePreviousStep, "previous step", E::Disabled, E::Disabled, E::Disabled,
             E::Picture},
            {cmd::SetupTest, "setup test", E::Disabled, E::Disabled, E::Disabled, E::Disabled},
            {cmd::StartTest, "start test", E::Disabled, E::Disabled, E::Disabled, E::Disabled},
            {cmd::EndTest, "end test", E::Disabled, E::Disabled, E::Disabled, E::Disabled},
        };
        for (const Cmd& c : cmds) {
            QTest::addRow("%s, Flow", c.name) << "Flow" << c.id << c.flow;
            QTest::addRow("%s, Occlusion", c.name) << "Occlusion" << c.id << c.occlusion;
            QTest::addRow("%s, PCA", c.name) << "PCA" << c.id << c.pca;
            QTest::addRow("%s, template", c.name) << "template" << c.id << c.tmpl;
        }
    }
    void commandReachesTheActiveChannelWindow() {
        QFETCH(QString, type);
        QFETCH(int, id);
        QFETCH(Effect, effect);
        // A saved record, opened as a user opens one; a file of each row's
        // own, since opening a file already open only brings its window up.
        const QString path = m_dir->filePath(QStringLiteral("data/%1-%2.p8d").arg(type).arg(id));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(RecordOf(type));
        }
        QVERIFY(m_frame->OpenRecordFile(path));
        auto* window = qobject_cast<ChannelWindow*>(m_frame->MdiArea()->activeSubWindow());
        QVERIFY(window);
        window->showMaximized();
        QCoreApplication::processEvents();
        CRivuletrixWinView* view = window->View();

        // Commands whose effect needs a state to leave first get it through
        // the channel window's own toolbar.
        const auto viewTrigger = [view](int viewId) { view->Action(viewId)->trigger(); };
        if (id == cmd::ResetYAxis) viewTrigger(cmd::ExpandYAxis);
        if (id == cmd::UnitMmHg) viewTrigger(cmd::UnitPsi);
        if (id == cmd::TemplatePreviousStep) viewTrigger(cmd::TemplateNextStep);
        view->Compose(); // the series a record type shows are settled by a drawing
        view->UpdateActions();
        m_frame->UpdateCommands();

        QAction* a = m_frame->Action(id);
        QVERIFY(a);
        const QImage before = view->Compose();
        const bool checkedBefore = a->isChecked();
        QCOMPARE(a->isEnabled(), effect != Effect::Disabled);
        if (effect == Effect::Disabled) return;

        auto* bar = m_frame->findChild<QToolBar*>(QStringLiteral("MainToolBar"));
        auto* button = bar ? qobject_cast<QToolButton*>(bar->widgetForAction(a)) : nullptr;
        if (button)
            QTest::mouseClick(button, Qt::LeftButton);
        else
            a->trigger(); // the menu item
        QCoreApplication::processEvents();

        const QImage after = view->Compose();
        QVERIFY2(after != before, "the channel window's picture did not change");
        if (effect == Effect::PictureAndCheck) {
            QCOMPARE(a->isChecked(), view->Action(id)->isChecked());
            if (id == cmd::UnitKpa || id == cmd::UnitPsi || id == cmd::UnitMmHg)
                QVERIFY(a->isChecked());
            else
                QCOMPARE(a->isChecked(), !checkedBefore);
        }
        QVERIFY2(m_prompter.messages.isEmpty(), qPrintable(m_prompter.messages.join('|')));
    }
};

QTEST_MAIN(TestChannelCommands)
#include "test_channel_commands.moc"
