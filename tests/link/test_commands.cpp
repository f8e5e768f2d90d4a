// The bytes of every command and the guards that hold some back.
#include "base/Prompter.h"
#include "link/Commands.h"

#include <QBuffer>
#include <QTest>

class TestCommands : public QObject {
    Q_OBJECT
    ScriptedPrompter m_prompter;

private Q_SLOTS:
    void init() {
        m_prompter.messages.clear();
        SetPrompter(&m_prompter);
    }
    void cleanup() { SetPrompter(nullptr); }

    void fixedCommands() {
        QCOMPARE(commands::Poll(), QByteArray("[POLL]\r\n"));
        QCOMPARE(commands::Bye(), QByteArray("[BYE]\r\n"));
        QCOMPARE(commands::Log(), QByteArray("[LOG]\r\n"));
        QCOMPARE(commands::Status(), QByteArray("[STATUS]\r\n"));
        QCOMPARE(commands::GetBatStatus(), QByteArray("[GETBATSTATUS]\r\n"));
        QCOMPARE(commands::End(3), QByteArray("[END,4]\r\n"));
        QCOMPARE(commands::Recs(), QByteArray("[RECS]\r\n"));
        QCOMPARE(commands::GetTemplateCount(), QByteArray("[GETTMPLTCOUNT]\r\n"));
        QCOMPARE(commands::GetUserNotes(), QByteArray("[GETUSERNOTES]\r\n"));
    }

    void guarded_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("argument");
        QTest::addColumn<QByteArray>("bytes"); // empty: nothing sent
        QTest::addColumn<QString>("message");
        QTest::newRow("GETREC 7") << "GETREC" << 7 << QByteArray("[GETREC,007]\r\n") << "";
        QTest::newRow("GETREC 1234 sends 999")
            << "GETREC" << 1234 << QByteArray("[GETREC,999]\r\n") << "";
        QTest::newRow("GETREC 0 warns, still sent")
            << "GETREC" << 0 << QByteArray("[GETREC,000]\r\n") << "RECORD NUMBER CANNOT BE ZERO";
        QTest::newRow("DELREC 12") << "DELREC" << 12 << QByteArray("[DELREC,12]\r\n") << "";
        QTest::newRow("DELREC 999") << "DELREC" << 999 << QByteArray("[DELREC,999]\r\n") << "";
        QTest::newRow("DELREC 1000 sends nothing")
            << "DELREC" << 1000 << QByteArray() << "Record Number is greater than 999";
        QTest::newRow("GETSN 4") << "GETSN" << 4 << QByteArray("[GETSN,4]\r\n") << "";
        QTest::newRow("GETSN 5") << "GETSN" << 5 << QByteArray() << "Channel Number greater than 4";
        QTest::newRow("GETPARAMS 0") << "GETPARAMS" << 0 << QByteArray("[GETPARAMS,0]\r\n") << "";
        QTest::newRow("GETPARAMS 5")
            << "GETPARAMS" << 5 << QByteArray() << "Channel Number greater than 4";
        QTest::newRow("GETTMPLT 200")
            << "GETTMPLT" << 200 << QByteArray("[GETTMPLT,200]\r\n") << "";
        QTest::newRow("GETTMPLT 201")
            << "GETTMPLT" << 201 << QByteArray() << "Template Number is greater than 200";
        QTest::newRow("GETREC -1 sends nothing") << "GETREC" << -1 << QByteArray() << "";
    }
    void guarded() {
        QFETCH(QString, command);
        QFETCH(int, argument);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        std::optional<QByteArray> out;
        if (command == "GETREC") out = commands::GetRec(argument);
        if (command == "DELREC") out = commands::DelRec(argument);
        if (command == "GETSN") out = commands::GetSN(argument);
        if (command == "GETPARAMS") out = commands::GetParams(argument);
        if (command == "GETTMPLT") out = commands::GetTemplate(argument);
        QCOMPARE(out.value_or(QByteArray()), bytes);
        QCOMPARE(m_prompter.messages, message.isEmpty() ? QStringList() : QStringList{message});
    }

    void startTest_data() {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("autoStart");
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("op");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("flow, AutoStart, commas replaced")
            << 1 << 1 << true << "A,1"
            << "JS" << 12.5 << QByteArray("[C2FA,A-1,JS,1250]\r\n\0", 21);
        QTest::newRow("flow") << 0 << 1 << false << "C"
                              << "O" << 5.0 << QByteArray("[C1F,C,O,500]\r\n\0", 16);
        QTest::newRow("occlusion ignores AutoStart")
            << 3 << 2 << true << "X"
            << "Y" << 25.0 << QByteArray("[C4O,X,Y,2500]\r\n\0", 17);
        QTest::newRow("PCA") << 2 << 3 << false << "P"
                             << "Q" << 0.29 << QByteArray("[C3PCA,P,Q,29]\r\n\0", 17);
        QTest::newRow("PCA AutoStart")
            << 2 << 3 << true << "P"
            << "Q" << 1999.99 << QByteArray("[C3PCAA,P,Q,199999]\r\n\0", 22);
        QTest::newRow("other type: body only") << 0 << 4 << false << "P"
                                               << "Q" << 1.0 << QByteArray("P,Q,100]\r\n\0", 11);
        QTest::newRow("code page") << 0 << 1 << false << QString::fromUtf8("Müller") << "é" << 1.0
                                   << QByteArray("[C1F,M\xfcller,\xe9,100]\r\n\0", 21);
        // The body must fit 59 bytes before its NUL.
        QTest::newRow("body of 59 bytes")
            << 0 << 1 << false << QString(49, 'c') << "o" << 10.0
            << QByteArray("[C1F," + QByteArray(49, 'c') + QByteArray(",o,1000]\r\n\0", 11));
        QTest::newRow("body of 60 bytes: nothing")
            << 0 << 1 << false << QString(50, 'c') << "o" << 10.0 << QByteArray();
    }
    void startTest() {
        QFETCH(int, channel);
        QFETCH(int, type);
        QFETCH(bool, autoStart);
        QFETCH(QString, control);
        QFETCH(QString, op);
        QFETCH(double, rate);
        QFETCH(QByteArray, bytes);
        const auto out = commands::StartTest(channel, type, autoStart, control, op, rate);
        QCOMPARE(out.value_or(QByteArray()), bytes);
        if (out) QCOMPARE(out->back(), '\0');
    }

    void templateLines() {
        Template t;
        t.name = QStringLiteral("Ward 4");
        t.deviceComments = QStringLiteral("Pump A");
        t.stepCount = 4;
        t.steps[0] = {1, 100.0, 5, 12.5, 5, 1, 30};
        t.steps[1] = {2, 300.0, 2, 25.0, 0, 0, 10};
        t.steps[2] = {3, 10.0, 1, 2.0, 10, 0, 45}; // unit unset: empty field
        t.steps[3] = {5, 1.5, 5, 0.0, 0, 0, 0};
        QCOMPARE(
            commands::SetTemplate(t),
            (QList<QByteArray>{"[SETTMPLT,0,Ward 4,Pump A]\r\n",
                               "[SETTMPLT,1,FLOW,12.50,100.00,ML,1,30,5]\r\n",
                               "[SETTMPLT,2,OCCL,25.00,300.00,MMHG,0,10,0]\r\n",
                               "[SETTMPLT,3,PCA,2.00,10.00,,0,45,10]\r\n",
                               "[SETTMPLT,4,BOLUS,0.00,1.50,ML,0,0,0]\r\n", "[SETTMPLT,END]\r\n"}));
        // The texts go out as the low byte of each character, at most 30.
        t.stepCount = 0;
        t.name = QString::fromUtf8("Ω") + QString(40, 'n');
        t.deviceComments = QStringLiteral("é");
        const QList<QByteArray> lines = commands::SetTemplate(t);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], "[SETTMPLT,0,\xa9" + QByteArray(29, 'n') + ",\xe9]\r\n");
        // A step line with its 17 separator and keyword bytes.
        const QByteArray step = commands::TemplateStepLine(1, t.steps[0]);
        QCOMPARE(step.size(), 17 + 4 + 5 + 6 + 2 + 1 + 2 + 1);
    }

    void userNotes() {
        QByteArray text;
        for (int i = 0; i < 250; ++i) text += char('a' + i % 26);
        QBuffer file(&text);
        file.open(QIODevice::ReadOnly);
        const QList<QByteArray> writes = commands::SetUserNotes(file);
        QCOMPARE(writes, (QList<QByteArray>{"[SETUSERNOTES]\r\n", "[", text.mid(0, 100),
                                            text.mid(100, 100), text.mid(200), "]"}));
        QBuffer empty;
        empty.open(QIODevice::ReadOnly);
        QCOMPARE(commands::SetUserNotes(empty),
                 (QList<QByteArray>{"[SETUSERNOTES]\r\n", "[", "]"}));
    }

    // Scrambling is an XOR with the 36-byte key; every byte goes out, zeros
    // and the range 0x80..0x9F included.
    void manual() {
        const QByteArray key = "QKTZeoimdrcfhjgwxnyb pqsUvkaltwhyzjc";
        QByteArray file;
        for (int i = 0; i < 100; ++i) file += char(i * 7 + 1);
        file[3] = key[3];              // scrambles to 0
        file[5] = char(key[5] ^ 0x85); // scrambles to 0x85
        const QString scrambled = commands::ScrambleManual(file);
        QCOMPARE(scrambled.size(), file.size());
        QCOMPARE(scrambled[0].unicode(), ushort(uchar(file[0]) ^ uchar('Q')));
        QCOMPARE(scrambled[36].unicode(), ushort(uchar(file[36]) ^ uchar('Q')));
        const QList<QByteArray> writes = commands::UmSetInstruct(scrambled);
        QCOMPARE(writes.size(), 2);
        QCOMPARE(writes[0], QByteArray("[UMSETINSTRUCT]\r\n"));
        QByteArray expected;
        for (int i = 0; i < file.size(); ++i) expected += char(file[i] ^ key[i % 36]);
        QCOMPARE(writes[1], expected);
        QCOMPARE(writes[1][3], '\0');
        QCOMPARE(uchar(writes[1][5]), uchar(0x85));
        // Unscrambling with the same key gives the file back.
        QByteArray back;
        for (int i = 0; i < writes[1].size(); ++i) back += char(writes[1][i] ^ key[i % 36]);
        QCOMPARE(back, file);
        QCOMPARE(commands::ScrambleManualFile(QStringLiteral("/nonexistent/manual.p8i")),
                 QString());
        QCOMPARE(commands::UmSetInstruct(QString()).size(), 1);
    }
};

QTEST_APPLESS_MAIN(TestCommands)
#include "test_commands.moc"
