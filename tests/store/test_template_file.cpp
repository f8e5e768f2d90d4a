#include "StoreTestEnv.h"
#include "base/Prompter.h"
#include "records/Template.h"
#include "store/TemplateStore.h"

#include <QtTest>

// The ".p8t" file and the store's file operations.
class TestTemplateFile : public QObject {
    Q_OBJECT

    static QString Fixture(const char* name) {
        return QStringLiteral(RX_TEST_DATA "/store/") + QLatin1String(name);
    }

    // The template of the fixtures: Flow, PCA with its bolus slot, three
    // empty slots.
    static Template FlowPca() {
        Template t;
        t.stepCount = 3;
        t.steps[0] = {TemplateStep::Flow, 10.5, TemplateStep::Ml, 25.25, 5, 1, 30};
        t.steps[1] = {TemplateStep::Pca, 20.0, TemplateStep::Ml, 2.0, 10, 0, 45};
        t.steps[2] = {TemplateStep::Bolus, 1.5, TemplateStep::Ml, 0, 0, 0, 0};
        t.name = QStringLiteral("Infusion-1");
        t.deviceComments = QStringLiteral("Ward 3 \u2013 ICU");
        t.instSerialNumber = QStringLiteral("PX12345");
        return t;
    }

private Q_SLOTS:
    void encodesTheFixtureByteForByte() {
        const QByteArray fixture = StoreTestEnv::Read(Fixture("flow_pca.p8t"));
        QCOMPARE(fixture.size(), 374);
        QCOMPARE(templatefile::Encode(FlowPca()), fixture);
        Template t;
        QVERIFY(templatefile::Decode(fixture, t));
        QVERIFY(t == FlowPca());
        // Empty slots read back as type 0, unit 1.
        QCOMPARE(t.steps[5].type, 0);
        QCOMPARE(t.steps[5].unit, 1);
    }

    void ignoresPaddingAndTrailingBytes() {
        Template t;
        QVERIFY(templatefile::ReadFile(Fixture("flow_pca_padded_tail.p8t"), t));
        QVERIFY(t == FlowPca());
    }

    void emptyTextIsCountOneAndOneZero() {
        Template t;
        const QByteArray b = templatefile::Encode(t);
        QCOMPARE(b.size(), templatefile::kTextsOffset + 4 * 6);
        QCOMPARE(b.mid(templatefile::kTextsOffset, 6), QByteArray("\x01\x00\x00\x00\x00\x00", 6));
    }

    void textEndsAtItsFirstZeroUnit() {
        QByteArray b = templatefile::Encode(FlowPca());
        // "Infusion-1" with a 0 unit written over its '-'.
        const int dash = templatefile::kTextsOffset + 4 + 2 * 8;
        QCOMPARE(b.at(dash), '-');
        b[dash] = 0;
        Template t;
        QVERIFY(templatefile::Decode(b, t));
        QCOMPARE(t.name, QStringLiteral("Infusion"));
        QCOMPARE(t.deviceComments, FlowPca().deviceComments); // the count still rules
    }

    void everyTruncationFails() {
        const QByteArray full = StoreTestEnv::Read(Fixture("flow_pca.p8t"));
        for (int n = 0; n < full.size(); ++n) {
            Template t = FlowPca();
            t.name = QStringLiteral("untouched");
            QVERIFY2(!templatefile::Decode(full.left(n), t), qPrintable(QString::number(n)));
            QCOMPARE(t.name, QStringLiteral("untouched"));
        }
    }

    void corruptCountsFail_data() {
        QTest::addColumn<int>("offset");
        QTest::addColumn<qint32>("value");
        const int name = templatefile::kTextsOffset;
        QTest::newRow("step count 7") << 0 << 7;
        QTest::newRow("step count -1") << 0 << -1;
        QTest::newRow("huge name count") << name << 0x7fffffff;
        QTest::newRow("negative name count") << name << -5;
        QTest::newRow("name count past the end") << name << 200;
        QTest::newRow("serial count one too many") << 374 - 4 - 16 << 9;
    }
    void corruptCountsFail() {
        QFETCH(int, offset);
        QFETCH(qint32, value);
        QByteArray b = StoreTestEnv::Read(Fixture("flow_pca.p8t"));
        qToLittleEndian(value, b.data() + offset);
        Template t;
        QString error;
        QVERIFY(!templatefile::Decode(b, t, &error));
        QVERIFY(!error.isEmpty());
    }

    void storeWritesWithoutTruncating() {
        StoreTestEnv env;
        TemplateStore store(*env.settings);
        Template longer = FlowPca();
        longer.name = QStringLiteral("A much longer template name");
        QVERIFY(store.WriteTemplateFile(QStringLiteral("RXt_X.p8t"), longer));
        const QByteArray before =
            StoreTestEnv::Read(store.TemplateFilePath(QStringLiteral("RXt_X.p8t")));

        Template shorter = FlowPca();
        shorter.name = QStringLiteral("B");
        shorter.stepCount = 1;
        shorter.steps[1] = shorter.steps[2] = TemplateStep{};
        QVERIFY(store.WriteTemplateFile(QStringLiteral("RXt_X.p8t"), shorter));
        const QByteArray after =
            StoreTestEnv::Read(store.TemplateFilePath(QStringLiteral("RXt_X.p8t")));
        const QByteArray encoded = templatefile::Encode(shorter);
        QCOMPARE(after.size(), before.size()); // the older tail stays
        QCOMPARE(after.left(encoded.size()), encoded);
        QCOMPARE(after.mid(encoded.size()), before.mid(encoded.size()));

        Template read;
        QVERIFY(store.ReadTemplateFile(QStringLiteral("RXt_X.p8t"), read));
        QVERIFY(read == shorter);
        QVERIFY(!store.ReadTemplateFile(QStringLiteral("RXt_Missing.p8t"), read));
        QCOMPARE(store.TemplateFilePath(QStringLiteral("RXt_X.p8t")),
                 env.dataDir + QStringLiteral("/RXt_X.p8t"));
    }

    void makeTemplateFileName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("exists");
        QTest::addColumn<int>("answer"); // -1 no question expected, 0 No, 1 Yes
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("message");
        QTest::newRow("new") << "Infusion-1" << false << -1 << true << "RXt_Infusion-1.p8t"
                             << "";
        QTest::newRow("overwrite yes") << "Infusion-1" << true << 1 << true << "RXt_Infusion-1.p8t"
                                       << "";
        QTest::newRow("overwrite no") << "Infusion-1" << true << 0 << false << "RXt_Infusion-1.p8t"
                                      << "";
        QTest::newRow("empty") << "" << false << -1 << false << ""
                               << "Not a valid Templatename";
        // A name from an analyzer must not lead out of the data folder.
        QTest::newRow("slash") << "../../etc/x" << false << -1 << false << ""
                               << "Not a valid Templatename";
        QTest::newRow("backslash") << "a\\b" << false << -1 << false << ""
                                   << "Not a valid Templatename";
    }
    void makeTemplateFileName() {
        QFETCH(QString, name);
        QFETCH(bool, exists);
        QFETCH(int, answer);
        QFETCH(bool, result);
        QFETCH(QString, fileName);
        QFETCH(QString, message);
        StoreTestEnv env;
        ScriptedPrompter prompter;
        SetPrompter(&prompter);
        if (answer >= 0) prompter.QueueAnswer(answer == 1);
        TemplateStore store(*env.settings);
        if (exists) StoreTestEnv::Write(env.dataDir + QLatin1Char('/') + fileName, QByteArray("x"));
        QString out;
        QCOMPARE(store.MakeTemplateFileName(name, out), result);
        QCOMPARE(out, fileName);
        QCOMPARE(prompter.messages, message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(prompter.questions, answer < 0
                                         ? QStringList()
                                         : QStringList{QStringLiteral(
                                               "File already exist,Do you want to overwrite it")});
        QCOMPARE(prompter.defaultNo, prompter.questions); // Enter keeps the file
        SetPrompter(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestTemplateFile)
#include "test_template_file.moc"
