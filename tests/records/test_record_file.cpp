// Record files: the exact written form, every reading rule, and damaged files.
#include "../SmallTmpfs.h"
#include "records/RivuletrixDoc.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString Fixture(const char* name) {
    return QStringLiteral(RX_TEST_DATA "/records/") + QLatin1String(name);
}

void Read(CRivuletrixDoc& doc, const QByteArray& bytes) {
    doc.ReadRecordBytes(bytes.constData(), size_t(bytes.size()));
}

Sample Make(uint32_t t, uint32_t v, int16_t p, char code = ' ') {
    Sample s;
    s.time = t;
    s.volume = v;
    s.pressure = p;
    s.code = code;
    return s;
}

} // namespace

class TestRecordFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A disk that fills during the save fails it with the system's reason
    // and leaves the record saved before untouched.
    void fullDiskKeepsEarlierRecordAndSaysWhy() {
        RX_SMALL_TMPFS(fs, 64 * 1024);
        const QString path = fs.Path() + QStringLiteral("/r.p8d");
        CRivuletrixDoc doc;
        doc.TestType = 'F';
        doc.ControlNumber = QStringLiteral("FULL");
        Sample s;
        s.code = 'v';
        for (int slot = 1; slot <= 10; ++slot) {
            s.time = uint32_t(slot) * 100;
            doc.SetSample(slot, s);
        }
        QVERIFY(doc.WriteRecordFile(path));
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        const QByteArray before = earlier.readAll();
        earlier.close();
        fs.Fill();
        for (int slot = 11; slot <= 5000; ++slot) {
            s.time = uint32_t(slot) * 100;
            doc.SetSample(slot, s);
        }
        QString error;
        QVERIFY(!doc.WriteRecordFile(path, &error));
        QVERIFY2(error.contains(QStringLiteral("No space left on device")), qPrintable(error));
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), before);
    }

    void writesExactSection() {
        CRivuletrixDoc doc;
        doc.InstSerialNum = QStringLiteral("80001234");
        doc.InstVersion = QStringLiteral("3.10");
        doc.ChannelNo = 2;
        doc.TdSerialNum = QStringLiteral("T123");
        doc.TdVersion = QStringLiteral("1.0");
        doc.RepHeader1 = QStringLiteral("Clinical Engineering");
        doc.ControlNumber = QStringLiteral("O'Brien-7");
        doc.Operator = QStringLiteral("Smith, J.");
        doc.Manufacture = QStringLiteral("Caf\u00e9 Pumps"); // written in Windows-1252
        doc.TestType = 'F';
        doc.SetFlowRate = 5;
        doc.SetVolume = 123.456;
        doc.StartDate = QStringLiteral("08-Dec-2026");
        doc.StartTime = QStringLiteral("14:05:09");
        doc.InstModel = QStringLiteral("PXR-8");
        doc.SetSample(1, Make(100, 25, 3, 'R'));
        doc.SetSample(2, Make(200, 50, -4));
        const QByteArray expected =
            "H1,80001234,3.10\r\nH2,3,T123,1.0\r\nH3,Clinical Engineering\r\nH4,\r\nH5,\r\n"
            "H6,O'Brien-7\r\nH7,Smith, J.\r\nH8,Caf\xe9 "
            "Pumps\r\nH9,\r\nH10,\r\nH11,\r\nH12,Flow\r\n"
            "H13,5.00   \r\nH14,123.46 \r\nH15,0.00   \r\nH16,0.00   \r\nH17,\r\n"
            "H18,08-Dec-2026,14:05:09\r\nH19,PXR-8\r\nH20,\r\nH21,\r\nH22,\r\n"
            "D1,:,0,0,0\r\nD2,R,100,25,3\r\nD3, ,200,50,-4\r\n";
        QCOMPARE(doc.FormatSection(), expected);
    }

    // A long record is saved in chunks: the file holds exactly the section's
    // text, lines numbered on across the chunk boundaries, extreme values
    // included.
    void longRecordIsSavedWhole() {
        CRivuletrixDoc doc;
        doc.TestType = 'F';
        for (int i = 1; i <= 40000; ++i)
            doc.SetSample(i, Make(i == 20000 ? 0xFFFFFFFFu : uint32_t(i) * 100,
                                  i == 30000 ? 0x80000000u : uint32_t(i),
                                  int16_t(i % 2 ? -32768 : 32767), ' '));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("long.p8d"));
        QVERIFY(doc.WriteRecordFile(path));
        const QByteArray file = ReadAll(path);
        QCOMPARE(file, doc.FormatSection());
        QVERIFY(
            file.contains("\r\nD16385, ,1638400,16384,32767\r\nD16386, ,1638500,16385,-32768\r\n"));
        QVERIFY(file.endsWith("\r\nD40001, ,4000000,40000,32767\r\n"));
    }

    // Header text from any caller, however long or with line breaks in it,
    // must not end the header early: every sample stays readable after a
    // save, and no line exceeds what the reader takes.
    void headerTextNeverHidesTheSamples_data() {
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("comments");
        QTest::addColumn<QString>("templateName");
        const QString tail = QString(114, QLatin1Char('x'));
        QTest::newRow("118 chars ending in E1")
            << tail + QStringLiteral("E1") << QString() << QString();
        QTest::newRow("tail reads as a sample")
            << QString(116, QLatin1Char('m')) + QStringLiteral("D9,:,1,1,1") << QString()
            << QString();
        QTest::newRow("line breaks")
            << QStringLiteral("Acme\r\nE1") << QStringLiteral("a\nD7,x") << QString();
        QTest::newRow("1000 chars")
            << QString(1000, QLatin1Char('E')) << QString(1000, QLatin1Char('D')) << QString();
        QTest::newRow("long template name")
            << QString() << QString() << QString(200, QLatin1Char('E'));
    }
    void headerTextNeverHidesTheSamples() {
        QFETCH(QString, manufacturer);
        QFETCH(QString, comments);
        QFETCH(QString, templateName);
        CRivuletrixDoc doc;
        doc.TestType = 'F';
        doc.Manufacture = manufacturer;
        doc.Comments = comments;
        doc.ControlNumber = QStringLiteral("C-1");
        doc.StartDate = QStringLiteral("08-Dec-2026");
        doc.StartTime = QStringLiteral("14:05:09");
        for (int i = 1; i <= 605; ++i) doc.SetSample(i, Make(uint32_t(i) * 1000, uint32_t(i), 7));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("odd.p8d"));
        QByteArray bytes;
        if (templateName.isEmpty()) {
            QVERIFY(doc.WriteRecordFile(path));
            bytes = ReadAll(path);
        } else {
            doc.TemplateSteps = 1;
            doc.TemplateName = templateName;
            bytes = doc.FormatSection(true, 1);
        }
        for (const QByteArray& line : bytes.split('\n')) QVERIFY(line.size() <= 120); // 119 + CR

        CRivuletrixDoc back;
        Read(back, bytes);
        // D1 is the empty first slot; D606 holds the 605th sample (slots
        // 0..606 counted).
        QCOMPARE(back.SampleCount(), 607);
        QCOMPARE(back.Samples()[606].time, 605000u);
        QCOMPARE(back.ControlNumber, QStringLiteral("C-1"));
        QCOMPARE(back.StartTime, QStringLiteral("14:05:09"));
        // What fits of the text is kept, its breaks as blanks.
        const QString kept = QString(manufacturer)
                                 .replace(QLatin1Char('\r'), QLatin1Char(' '))
                                 .replace(QLatin1Char('\n'), QLatin1Char(' '))
                                 .left(119 - 3);
        QCOMPARE(back.Manufacture, kept);
    }

    void typeLineNamesOnlyTheThreeTypes_data() {
        QTest::addColumn<char>("type");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("flow") << 'F' << QByteArray("H12,Flow\r\n");
        QTest::newRow("occlusion") << 'O' << QByteArray("H12,Occlusion\r\n");
        QTest::newRow("pca") << 'P' << QByteArray("H12,PCA/Dual Flow\r\n");
        QTest::newRow("dual flow of old files") << 'D' << QByteArray("H12,\r\n");
        QTest::newRow("none") << 'N' << QByteArray("H12,\r\n");
    }
    void typeLineNamesOnlyTheThreeTypes() {
        QFETCH(char, type);
        QFETCH(QByteArray, line);
        CRivuletrixDoc doc;
        doc.TestType = type;
        QVERIFY(doc.FormatSection().contains("\r\n" + line));
    }

    void templateSectionDropsLeadingZeroTimes() {
        CRivuletrixDoc doc;
        doc.TestType = 'F';
        doc.TemplateSteps = 3;
        doc.TemplateName = QStringLiteral("Night Check");
        doc.SetSample(1, Make(0, 0, 0));
        doc.SetSample(2, Make(0, 7, 0));
        doc.SetSample(3, Make(500, 10, 1));
        doc.SetSample(4, Make(0, 12, 1)); // only leading zero times go
        const QByteArray s = doc.FormatSection(true, 2);
        QVERIFY(s.startsWith("N3 Night Check\r\nH1,"));
        QVERIFY(s.endsWith("D1,:,0,0,0\r\nD2, ,500,10,1\r\nD3, ,0,12,1\r\nE2\r\n"));
        // Without the N line, the section starts with H1.
        QVERIFY(doc.FormatSection(false, 3).startsWith("H1,"));
    }

    void roundTripShiftsSlotsByOne() {
        // A live record with two samples: D1,:,0,0,0 then D2 and D3.
        CRivuletrixDoc live;
        live.TestType = 'O';
        live.InstModel = QStringLiteral("PXR2K");
        live.SetSample(1, Make(1000, 0, 120, 'o'));
        live.SetSample(2, Make(1100, 0, -5, 'O'));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("r.p8d"));
        QVERIFY(live.WriteRecordFile(path));
        QVERIFY(ReadAll(path).endsWith("D1,:,0,0,0\r\nD2,o,1000,0,120\r\nD3,O,1100,0,-5\r\n"));

        CRivuletrixDoc doc;
        QVERIFY(doc.ReadRecordFile(path));
        QCOMPARE(doc.PathName(), path);
        QCOMPARE(doc.StoredCount(), 3);
        QCOMPARE(doc.SampleCount(), 4);
        QCOMPARE(doc.StatusAt(1), ':');
        QCOMPARE(doc.StatusAt(2), 'o');
        QCOMPARE(doc.ElapsedTicks(3), 1100u);
        QCOMPARE(doc.PressureAt(3), -5);
        QCOMPARE(doc.TestType, 'O');
        // Written again, the read record keeps its shift: slot 0 is empty and
        // slot 1 holds the ':' line.
        QVERIFY(doc.FormatSection().endsWith(
            "D1,:,0,0,0\r\nD2,:,0,0,0\r\nD3,o,1000,0,120\r\nD4,O,1100,0,-5\r\n"));
    }

    void headerLines_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::newRow("empty field skipped") << QByteArray("H8,,Acme") << "Manufacture"
                                             << "Acme";
        QTest::newRow("serial moves up") << QByteArray("H1,,2.10") << "InstSerialNum"
                                         << "2.10";
        QTest::newRow("no version then") << QByteArray("H1,,2.10") << "InstVersion"
                                         << "";
        QTest::newRow("operator to <") << QByteArray("H7,Smith, J.<x") << "Operator"
                                       << "Smith, J.";
        QTest::newRow("operator without <") << QByteArray("H7,,Lee, A,B") << "Operator"
                                            << "Lee, A,B";
        QTest::newRow("old H2 channel") << QByteArray("H2,3ABC,2.2") << "ChannelNo"
                                        << "2";
        QTest::newRow("old H2 serial") << QByteArray("H2,3ABC,2.2") << "TdSerialNum"
                                       << "ABC";
        QTest::newRow("old H2 version") << QByteArray("H2,3ABC,2.2") << "TdVersion"
                                        << "2.2";
        QTest::newRow("new H2 channel") << QByteArray("H2,4,T9,1.1") << "ChannelNo"
                                        << "3";
        QTest::newRow("new H2 serial") << QByteArray("H2,4,T9,1.1") << "TdSerialNum"
                                       << "T9";
        QTest::newRow("type first character") << QByteArray("H12,Occlusion") << "TestType"
                                              << "O";
        QTest::newRow("rate text kept") << QByteArray("H13,5.00   ") << "SetFlowRateText"
                                        << "5.00   ";
        QTest::newRow("rate value") << QByteArray("H13,12.50  ") << "SetFlowRate"
                                    << "12.5";
        QTest::newRow("start date") << QByteArray("H18,08-Dec-2026,14:05:09") << "StartDate"
                                    << "08-Dec-2026";
        QTest::newRow("start time") << QByteArray("H18,08-Dec-2026,14:05:09") << "StartTime"
                                    << "14:05:09";
        QTest::newRow("missing token keeps field") << QByteArray("H6") << "ControlNumber"
                                                   << "kept";
        QTest::newRow("cp1252 text") << QByteArray("H11,Station \x80 3") << "Location"
                                     << "Station \u20ac 3";
        QTest::newRow("comments") << QByteArray("H22,ok") << "Comments"
                                  << "ok";
    }
    void headerLines() {
        QFETCH(QByteArray, line);
        QFETCH(QString, field);
        QFETCH(QString, value);
        CRivuletrixDoc doc;
        doc.ControlNumber = QStringLiteral("kept");
        doc.ReadHeaderLine(line.constData(), size_t(line.size()));
        const QHash<QString, QString> fields = {{"Manufacture", doc.Manufacture},
                                                {"InstSerialNum", doc.InstSerialNum},
                                                {"InstVersion", doc.InstVersion},
                                                {"Operator", doc.Operator},
                                                {"ChannelNo", QString::number(doc.ChannelNo)},
                                                {"TdSerialNum", doc.TdSerialNum},
                                                {"TdVersion", doc.TdVersion},
                                                {"TestType", QString(QLatin1Char(doc.TestType))},
                                                {"SetFlowRateText", doc.SetFlowRateText},
                                                {"SetFlowRate", QString::number(doc.SetFlowRate)},
                                                {"StartDate", doc.StartDate},
                                                {"StartTime", doc.StartTime},
                                                {"ControlNumber", doc.ControlNumber},
                                                {"Location", doc.Location},
                                                {"Comments", doc.Comments}};
        QVERIFY(fields.contains(field));
        QCOMPARE(fields.value(field), value);
    }

    void pcaRatesFillEachOther_data() {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("basal");
        QTest::addColumn<bool>("rateIsZero");
        QTest::newRow("zero basal takes the rate")
            << QByteArray("H12,PCA\nH13,2.00\nH15,0.00\n") << 2.0 << 2.0 << false;
        QTest::newRow("zero rate takes the basal")
            << QByteArray("H12,PCA\nH13,0.00\nH15,3.00\n") << 3.0 << 3.0 << false;
        QTest::newRow("both zero")
            << QByteArray("H12,PCA\nH13,0.00\nH15,0.00\n") << 0.0 << 0.0 << true;
        QTest::newRow("flow leaves the basal")
            << QByteArray("H12,Flow\nH13,2.00\nH15,0.00\n") << 2.0 << 0.0 << true;
    }
    void pcaRatesFillEachOther() {
        QFETCH(QByteArray, lines);
        QFETCH(double, rate);
        QFETCH(double, basal);
        QFETCH(bool, rateIsZero);
        CRivuletrixDoc doc;
        Read(doc, lines);
        QCOMPARE(doc.SetFlowRate, rate);
        QCOMPARE(doc.SetBasalFlowRate, basal);
        QCOMPARE(doc.SetRateIsZero, rateIsZero);
        QCOMPARE(doc.FlowOrOcclusion, !lines.startsWith("H12,P"));
    }

    void sampleLines_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("slot");
        QTest::addColumn<QString>("sample"); // "code,time,volume,pressure"
        QTest::newRow("plain") << QByteArray("D1,:,0,0,0\nD2, ,100,25,3\n") << 2 << 2
                               << " ,100,25,3";
        QTest::newRow("time joined to code")
            << QByteArray("D2,R100,25,3\n") << 2 << 2 << "R,100,25,3";
        QTest::newRow("empty fields skipped")
            << QByteArray("D2,,b,,100,,25,3\n") << 2 << 2 << "b,100,25,3";
        QTest::newRow("short line keeps fields, not the count")
            << QByteArray("D1,:,0,0,0\nD2,a,100\n") << 1 << 2 << "a,100,0,0";
        QTest::newRow("negative slot ignored")
            << QByteArray("D1,:,0,0,0\nD-4,a,1,2,3\n") << 1 << 1 << ":,0,0,0";
        QTest::newRow("gap reads as empty") << QByteArray("D5, ,9,9,9\n") << 5 << 3 << " ,0,0,0";
        QTest::newRow("count follows the last complete line")
            << QByteArray("D1,:,0,0,0\nD3, ,5,5,5\nD2, ,4,4,4\n") << 2 << 3 << " ,5,5,5";
        QTest::newRow("pressure is 16-bit")
            << QByteArray("D2, ,1,1,70000\n") << 2 << 2 << " ,1,1,4464";
        QTest::newRow("crlf and stray cr")
            << QByteArray("D2, ,1\r00,2,3\r\n") << 2 << 2 << " ,100,2,3";
        QTest::newRow("leading zeros are not digits of the limit")
            << QByteArray("D2, ,000000000000000000007,08,-0\n") << 2 << 2 << " ,7,8,0";
        QTest::newRow("numbers saturate at 32 bits")
            << QByteArray("D2, ,99999999999,-99999999999,2147483648\n") << 2 << 2
            << " ,2147483647,2147483648,-1";
        QTest::newRow("32-bit limits exactly") << QByteArray("D2, ,2147483647,-2147483648,+12x9\n")
                                               << 2 << 2 << " ,2147483647,2147483648,12";
        QTest::newRow("blanks and signs before digits")
            << QByteArray("D 2,  \t-5,+6,\t7\n") << 2 << 2 << " ,4294967291,6,7";
        QTest::newRow("last line without LF ignored")
            << QByteArray("D2, ,1,2,3\nD3, ,4,5,6") << 2 << 3 << " ,0,0,0";
    }
    void sampleLines() {
        QFETCH(QByteArray, file);
        QFETCH(int, stored);
        QFETCH(int, slot);
        QFETCH(QString, sample);
        CRivuletrixDoc doc;
        Read(doc, file);
        QCOMPARE(doc.StoredCount(), stored);
        const QString got = QStringLiteral("%1,%2,%3,%4")
                                .arg(QLatin1Char(doc.StatusAt(slot)))
                                .arg(doc.ElapsedTicks(slot))
                                .arg(doc.VolumeAt(slot))
                                .arg(doc.PressureAt(slot));
        QCOMPARE(got, sample);
    }

    void longLineIsCutAt119() {
        // 130 bytes: a line of 119 and a line of 11. The second one here is a
        // complete sample line, which shows the cut.
        QByteArray line = "H22," + QByteArray(115, 'c') + "D7, ,1,2,3\n";
        QCOMPARE(line.size(), 130);
        CRivuletrixDoc doc;
        Read(doc, line);
        QCOMPARE(doc.Comments.size(), 115);
        QCOMPARE(doc.StoredCount(), 7);
        QCOMPARE(doc.VolumeAt(7), 2u);
    }

    void templateStepsAndOldModel_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("step");
        QTest::addColumn<char>("type");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("steps");
        QTest::newRow("step 1") << Fixture("template_3step.p8d") << 1 << 'F' << 3 << 1000 << 3;
        QTest::newRow("step 2") << Fixture("template_3step.p8d") << 2 << 'O' << 4 << 1000 << 3;
        QTest::newRow("step 3") << Fixture("template_3step.p8d") << 3 << 'F' << 3 << 1000 << 3;
        QTest::newRow("step beyond reads all")
            << Fixture("template_3step.p8d") << 6 << 'F' << 3 << 1000 << 3;
        // PCA, bolus slot, Flow: sections E2 and E3 under the N line "N3".
        QTest::newRow("after a bolus slot, step 1")
            << Fixture("template_bolus_slot.p8d") << 1 << 'P' << 3 << 1000 << 2;
        QTest::newRow("after a bolus slot, step 2")
            << Fixture("template_bolus_slot.p8d") << 2 << 'F' << 3 << 1000 << 2;
        QTest::newRow("old model") << Fixture("old_model.p7d") << 1 << 'F' << 4 << 256 << 0;
    }
    void templateStepsAndOldModel() {
        QFETCH(QString, file);
        QFETCH(int, step);
        QFETCH(char, type);
        QFETCH(int, stored);
        QFETCH(int, ticks);
        QFETCH(int, steps);
        CRivuletrixDoc doc;
        doc.StepToShow = step;
        QVERIFY(doc.ReadRecordFile(file));
        QCOMPARE(doc.TestType, type);
        QCOMPARE(doc.StoredCount(), stored);
        QCOMPARE(doc.TicksPerSecond, ticks);
        QCOMPARE(doc.NewModel, ticks == 1000);
        QCOMPARE(doc.StepToShow, step);
        if (file.endsWith(QLatin1String(".p8d"))) {
            QCOMPARE(doc.TemplateSteps, steps);
            QCOMPARE(doc.TemplateName, QStringLiteral("Night Check"));
            QCOMPARE(doc.ElapsedTicks(2), uint32_t(1000 * std::min(step, 3)));
        } else {
            QCOMPARE(doc.ElapsedTicks(3), 1024u * 4u);
        }
    }

    void wholeFileWithOddHeaderForms() {
        CRivuletrixDoc doc;
        QVERIFY(doc.ReadRecordFile(Fixture("header_forms.p8d")));
        QCOMPARE(doc.InstSerialNum, QStringLiteral("2.10"));
        QCOMPARE(doc.InstVersion, QString());
        QCOMPARE(doc.ChannelNo, 2);
        QCOMPARE(doc.TdSerialNum, QStringLiteral("ABC"));
        QCOMPARE(doc.Operator, QStringLiteral("Smith, J."));
        QCOMPARE(doc.Manufacture, QStringLiteral("Acme"));
        QCOMPARE(doc.TestType, 'P');
        QCOMPARE(doc.SetBasalFlowRate, 2.0); // a zero basal rate takes the set rate
        QVERIFY(!doc.FlowOrOcclusion);
        // The comment line, the cut 130-byte line and the unterminated last
        // line add nothing.
        QCOMPARE(doc.StoredCount(), 3);
        QCOMPARE(doc.StatusAt(2), 'R');
        QCOMPARE(doc.ElapsedTicks(2), 200u);
    }

    void savingSetsTheZeroRateFlag() {
        CRivuletrixDoc doc;
        doc.SetFlowRate = 0;
        doc.FormatSection();
        QVERIFY(doc.SetRateIsZero);
        doc.SetFlowRate = 3;
        doc.FormatSection();
        QVERIFY(!doc.SetRateIsZero);
    }

    void readingResetsThePreviousRecord() {
        CRivuletrixDoc doc;
        QVERIFY(doc.ReadRecordFile(Fixture("flow_small.p8d")));
        QCOMPARE(doc.StoredCount(), 41);
        QVERIFY(doc.ReadRecordFile(Fixture("old_model.p7d")));
        QCOMPARE(doc.StoredCount(), 4);
        QCOMPARE(doc.Samples().size(), size_t(5));
    }

    void headerOnlyReadSkipsSamples() {
        CRivuletrixDoc doc;
        QVERIFY(doc.ReadRecordFile(Fixture("flow_small.p8d"), nullptr, false));
        QCOMPARE(doc.ControlNumber, QStringLiteral("PUMP-0042"));
        QVERIFY(doc.Samples().empty());
    }

    void damagedInputNeverCrashes_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("binary") << QByteArray("\x00\xff\x01D\x00H\n\nD\nH\nN\nE\n", 16);
        QTest::newRow("huge slot") << QByteArray("D2000000000, ,1,2,3\nD999999999999,a,1,2,3\n");
        QTest::newRow("lone letters") << QByteArray("D\nH\nN\nE\nD,\nH,\nN \n");
        QTest::newRow("overflowing numbers") << QByteArray("D2, ,99999999999999,-99999999999,7\n");
        QTest::newRow("only commas") << QByteArray(",,,,,,\n,,\n");
        QTest::newRow("no newline at all") << QByteArray(5000, 'D');
        QTest::newRow("one line of 100 MB") << QByteArray(100 << 20, 'H') + '\n';
        QByteArray headers;
        for (int i = 0; i < 1000000; ++i) headers += "H22,comment\n";
        QTest::newRow("a million header lines") << headers;
        QTest::newRow("a header field of 1 MB")
            << QByteArray("H22,") + QByteArray(1 << 20, 'c') + "\nD1, ,1,2,3\n";
    }
    void damagedInputNeverCrashes() {
        QFETCH(QByteArray, bytes);
        CRivuletrixDoc doc;
        Read(doc, bytes);
        QVERIFY(doc.Samples().size() <= size_t(bytes.size()) / 2 + 1025);
        // A field never holds more than one line of the format.
        QVERIFY(doc.Comments.size() <= 119);
        doc.FormatSection(); // and what was read can be written again
    }

    void truncatedFileReadsWhatItHolds() {
        const QByteArray full = ReadAll(Fixture("flow_small.p8d"));
        const QByteArray cut = full.left(full.indexOf("D20,") + 6); // mid-line
        CRivuletrixDoc doc;
        Read(doc, cut);
        QCOMPARE(doc.StoredCount(), 19);
        QCOMPARE(doc.ControlNumber, QStringLiteral("PUMP-0042"));
    }

    void failedSaveKeepsTheOldFile() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kept.p8d"));
        CRivuletrixDoc doc;
        doc.TestType = 'F';
        doc.SetSample(1, Make(100, 1, 1));
        QVERIFY(doc.WriteRecordFile(path));
        const QByteArray before = ReadAll(path);
        // A path whose folder does not exist cannot be written.
        QString error;
        QVERIFY(!doc.WriteRecordFile(dir.filePath(QStringLiteral("missing/x.p8d")), &error));
        QVERIFY(!error.isEmpty());
        // A save that fails half-way (the target is a folder) leaves no partial file.
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("folder.p8d"))));
        QVERIFY(!doc.WriteRecordFile(dir.filePath(QStringLiteral("folder.p8d"))));
        QCOMPARE(ReadAll(path), before);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("kept.p8d")});
    }

    // A file far beyond any record (a disk image picked by mistake) is refused
    // before it is read into memory.
    void oversizedFileIsRefused() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("huge.p8d"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(CRivuletrixDoc::kMaxRecordFileBytes + 1)); // sparse: no disk used
        f.close();
        CRivuletrixDoc doc;
        QString error;
        QVERIFY(!doc.ReadRecordFile(path, &error));
        QCOMPARE(error, QStringLiteral("The file is too large to be a record file."));
    }

    void missingFileIsAnError() {
        CRivuletrixDoc doc;
        QString error;
        QVERIFY(!doc.ReadRecordFile(QStringLiteral("/nonexistent/r.p8d"), &error));
        QVERIFY(!error.isEmpty());
    }

    void fileNames_data() {
        QTest::addColumn<char>("type");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<bool>("templ");
        QTest::addColumn<QString>("name");
        QTest::newRow("worked example") << 'F' << "08-Dec-2026"
                                        << "14:05:09" << false << "RXr_F2026kdp8d_T123.p8d";
        QTest::newRow("template") << 'O' << "08-Dec-2026"
                                  << "14:05:09" << true << "RXr_TO2026kdp8d_T123.p8d";
        QTest::newRow("padded to five") << 'P' << "00-Jan-2026"
                                        << "00:00:01" << false << "RXr_P202600001_T123.p8d";
        QTest::newRow("lower-case month") << 'F' << "01-jan-2027"
                                          << "00:00:00" << false << "RXr_F2027023k0_T123.p8d";
        QTest::newRow("unknown month counts as January")
            << 'F' << "01-Foo-2027"
            << "00:00:00" << false << "RXr_F2027023k0_T123.p8d";
        QTest::newRow("type not a letter") << '-' << "08-Dec-2026"
                                           << "14:05:09" << false << "";
        QTest::newRow("no test") << '\0' << "08-Dec-2026"
                                 << "14:05:09" << false << "";
        QTest::newRow("year not digits") << 'F' << "08-Dec-20 6"
                                         << "14:05:09" << false << "";
    }
    void fileNames() {
        QFETCH(char, type);
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(bool, templ);
        QFETCH(QString, name);
        CRivuletrixDoc doc;
        doc.TestType = type;
        doc.StartDate = date;
        doc.StartTime = time;
        doc.TdSerialNum = QStringLiteral("T123");
        QCOMPARE(doc.MakeRecordFileName(templ), name);
    }

    void startStamp_data() {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::newRow("single-digit day")
            << QDateTime(QDate(2026, 12, 8), QTime(14, 5, 9)) << "08-Dec-2026"
            << "14:05:09";
        QTest::newRow("two-digit day")
            << QDateTime(QDate(2027, 1, 31), QTime(0, 0, 0)) << "31-Jan-2027"
            << "00:00:00";
    }
    void startStamp() {
        QFETCH(QDateTime, now);
        QFETCH(QString, date);
        QFETCH(QString, time);
        CRivuletrixDoc doc;
        doc.Run.running = true;
        doc.StampStart(now);
        QCOMPARE(doc.StartDate, date);
        QCOMPARE(doc.StartTime, time);
        QVERIFY(doc.Run.dataReceived); // an H18 read while running
    }

    void typeNames() {
        QCOMPARE(CRivuletrixDoc::TestTypeName('F'), QStringLiteral("Flow"));
        QCOMPARE(CRivuletrixDoc::TestTypeName('O'), QStringLiteral("Occlusion"));
        QCOMPARE(CRivuletrixDoc::TestTypeName('P'), QStringLiteral("PCA/Dual Flow"));
        QCOMPARE(CRivuletrixDoc::TestTypeName('D'), QStringLiteral("Dual Flow"));
        QCOMPARE(CRivuletrixDoc::TestTypeName('X'), QStringLiteral("Unknown"));
    }
};

QTEST_GUILESS_MAIN(TestRecordFile)
#include "test_record_file.moc"
