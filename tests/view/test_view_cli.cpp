// rivuletrix-cli render and report on synthetic records: PNG and PDF
// output, options, the data table as CSV, and the errors of records that
// cannot be drawn.
#include "../ProcessRun.h"
#include "../SmallTmpfs.h"
#include "SyntheticRecords.h"

#include <QFile>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using clitest::Cli;
using clitest::Result;

class TestViewCli : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString Write(const char* name, const QByteArray& text) {
        const QString path = m_dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write(text);
        return path;
    }
    QString Out(const char* name) { return m_dir.filePath(QString::fromLatin1(name)); }

private Q_SLOTS:
    void renderPictures_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QSize>("size");
        QTest::newRow("flow") << synth::Flow(12.5, 1000, 1800, 0.2) << QStringList{}
                              << QSize(1280, 800);
        QTest::newRow("flow sized")
            << synth::Flow(12.5, 1000, 1800) << QStringList{"--size", "640x400"} << QSize(640, 400);
        QTest::newRow("occlusion in psi") << synth::Occlusion(300, 1000, 800, 600)
                                          << QStringList{"--unit", "psi"} << QSize(1280, 800);
        QTest::newRow("pca") << synth::Pca(2, 3, 120, 10, 1) << QStringList{} << QSize(1280, 800);
        QTest::newRow("trumpet") << synth::Flow(10, 10000, 750, 0.2) << QStringList{"--trumpet"}
                                 << QSize(1280, 800);
    }
    void renderPictures() {
        QFETCH(QByteArray, record);
        QFETCH(QStringList, options);
        QFETCH(QSize, size);
        const QString file = Write("r.p8d", record);
        const QString png = Out("r.png");
        QFile::remove(png);
        const Result r = Cli(QStringList{"render", file, "--out", png} + options);
        QCOMPARE(r.exitCode, 0);
        const QImage img(png);
        QCOMPARE(img.size(), size);
        // Something black (axes, text) and something coloured or drawn.
        int black = 0;
        for (int y = 0; y < img.height(); y += 2)
            for (int x = 0; x < img.width(); x += 2)
                if ((img.pixel(x, y) & 0xffffff) == 0) ++black;
        QVERIFY(black > 100);
    }

    void renderPdf() {
        const QString file = Write("p.p8d", synth::Flow(12.5, 1000, 1800, 0.2));
        const QString pdf = Out("p.pdf");
        const Result r = Cli({"render", file, "--out", pdf});
        QCOMPARE(r.exitCode, 0);
        QFile f(pdf);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("%PDF"));
        QVERIFY(bytes.size() > 2000);
    }

    void errors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("trumpet of a short record")
            << QStringList{"SHORT", "--trumpet"} << "Not enough data to calculate Trumpet Curve";
        QTest::newRow("missing file") << QStringList{"/nonexistent/x.p8d"} << "cannot read";
        QTest::newRow("bad unit") << QStringList{"SHORT", "--unit", "bar"} << "--unit";
        QTest::newRow("bad size") << QStringList{"SHORT", "--size", "big"} << "--size";
    }
    void errors() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const QString shortRecord = Write("short.p8d", synth::Flow(10, 10000, 100));
        args.replaceInStrings("SHORT", shortRecord);
        const QString png = Out("e.png");
        QFile::remove(png);
        const Result r = Cli(QStringList{"render"} + args + QStringList{"--out", png});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(QString::fromLocal8Bit(r.err).contains(message), r.err.constData());
        QVERIFY(!QFile::exists(png));
    }

    // report writes the pages Print would print; the page count it states
    // is the PDF's.
    void reportPdf_data() {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("pages");
        QTest::newRow("graph page") << synth::Flow(12.5, 1000, 1800) << QStringList{} << 1;
        QTest::newRow("graph landscape")
            << synth::Occlusion(300, 1000, 800, 600) << QStringList{"--landscape"} << 1;
        QTest::newRow("table on A4") << synth::Flow(12.5, 1000, 1800) << QStringList{"--table"}
                                     << -25; // 1,801 rows: at least 25 pages
        QTest::newRow("bolus table") << synth::Pca(2, 3, 120, 10, 1) << QStringList{"--table"} << 1;
    }
    void reportPdf() {
        QFETCH(QByteArray, record);
        QFETCH(QStringList, options);
        QFETCH(int, pages);
        const QString pdf = Out("report.pdf");
        QFile::remove(pdf);
        const Result r = Cli(QStringList{"report", Write("r.p8d", record), "--out", pdf} + options);
        QCOMPARE(r.exitCode, 0);
        const int stated = QString::fromUtf8(r.out)
                               .section(QLatin1String(": "), 1)
                               .section(QLatin1Char(' '), 0, 0)
                               .toInt();
        QFile f(pdf);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("%PDF"));
        QCOMPARE(int(bytes.count("/Type /Page\n") + bytes.count("/Type /Page ")), stated);
        if (pages < 0)
            QVERIFY2(stated >= -pages, r.out.constData());
        else
            QCOMPARE(stated, pages);
    }

    void reportCsv() {
        const Result r =
            Cli({"report", Write("c.p8d", synth::Occlusion(20, 1000, 300, 250)), "--csv"});
        QCOMPARE(r.exitCode, 0);
        const QList<QByteArray> lines = QByteArray(r.out).replace("\r\n", "\n").split('\n');
        QVERIFY(lines.contains(
            "Sample,Elapsed Time,Pressure (mmHg),Pressure (psi),Pressure (kPa),Status"));
        QCOMPARE(r.out.count("(Over Pressure)"), 7); // samples 15 to 21 over 250 mmHg
        QVERIFY(lines[lines.size() - 2].startsWith("21,00:00:20,300,"));
    }

    void reportErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no output") << QStringList{"report", "SHORT"} << "--out";
        QTest::newRow("missing file")
            << QStringList{"report", "/nonexistent/x.p8d", "--csv"} << "cannot read";
        QTest::newRow("bad step") << QStringList{"report", "SHORT", "--csv", "--step", "0"}
                                  << "--step";
        QTest::newRow("step beyond the template")
            << QStringList{"report", "TEMPLATE", "--csv", "--step", "4"} << "3 steps";
        QTest::newRow("bad page") << QStringList{"report", "SHORT", "--out", "OUT", "--page", "A9"}
                                  << "--page";
        QTest::newRow("unwritable")
            << QStringList{"report", "SHORT", "--out", "/nonexistent/dir/x.pdf"}
            << "cannot be written";
#ifndef Q_OS_WIN // a Linux device
        QTest::newRow("pdf onto a full device")
            << QStringList{"report", "SHORT", "--out", "/dev/full"} << "No space left on device";
#endif
        // What is not a record is never reported on.
        QTest::newRow("empty file")
            << QStringList{"report", "EMPTY", "--out", "OUT"} << "not a test record";
        QTest::newRow("random bytes")
            << QStringList{"report", "RANDOM", "--out", "OUT"} << "not a test record";
        QTest::newRow("random bytes as csv")
            << QStringList{"report", "RANDOM", "--csv"} << "not a test record";
    }
    void reportErrors() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        args.replaceInStrings("SHORT", Write("short.p8d", synth::Flow(10, 10000, 100)));
        args.replaceInStrings("TEMPLATE",
                              QStringLiteral(RX_TEST_DATA "/records/template_3step.p8d"));
        args.replaceInStrings("EMPTY", Write("empty.p8d", {}));
        QByteArray noise(20000, 0);
        for (int i = 0; i < noise.size(); ++i) noise[i] = char(synth::Noise(uint32_t(i)) * 127);
        args.replaceInStrings("RANDOM", Write("noise.p8d", noise));
        args.replaceInStrings("OUT", Out("bad.pdf"));
        QFile::remove(Out("bad.pdf"));
        const Result r = Cli(args);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(QString::fromLocal8Bit(r.err).contains(message), r.err.constData());
        QVERIFY(r.out.isEmpty());
        QVERIFY(!QFile::exists(Out("bad.pdf")));
    }

    // A write that fails is an error with the system's reason, and an
    // earlier report of the name stays as it was.
    void reportOntoFullDisk_data() {
        QTest::addColumn<bool>("csv");
        QTest::newRow("pdf") << false;
        QTest::newRow("csv on standard output") << true;
    }
    void reportOntoFullDisk() {
        QFETCH(bool, csv);
        RX_SMALL_TMPFS(fs, 256 * 1024);
        const QString target = fs.Path() + (csv ? "/table.csv" : "/report.pdf");
        const QString small = Write("small.p8d", synth::Flow(10, 10000, 100));
        const QStringList output =
            csv ? QStringList{"--csv"} : QStringList{"--out", target, "--table"};
        QCOMPARE(Cli(QStringList{"report", small} + output, {}, csv ? target : QString()).exitCode,
                 0);
        QFile earlier(target);
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        const QByteArray before = earlier.readAll();
        earlier.close();
        QVERIFY(before.size() > 100);
        // A long record's report does not fit in what is left.
        fs.Fill();
        const QString big = Write("big.p8d", synth::Flow(10, 1000, 20000));
        QString outFile;
        if (csv) outFile = fs.Path() + "/more.csv";
        const Result r = Cli(QStringList{"report", big} + output, {}, outFile);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("No space left on device"), r.err.constData());
        QVERIFY(earlier.open(QIODevice::ReadOnly));
        QCOMPARE(earlier.readAll(), before);
        fs.Free();
    }

    void reportCsvOntoFullDevice() {
        const Result r = Cli({"report", Write("c.p8d", synth::Flow(10, 10000, 100)), "--csv"}, {},
                             QStringLiteral("/dev/full"));
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains("No space left on device"), r.err.constData());
    }

    // report prints the header lines Print prints: the working folder's
    // settings when it has them, the record's own otherwise.
    void reportHeaderLines_data() {
        QTest::addColumn<bool>("settings");
        QTest::newRow("working folder with settings") << true;
        QTest::newRow("no settings") << false;
    }
    void reportHeaderLines() {
        QFETCH(bool, settings);
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QTemporaryDir work;
        if (settings) {
            QDir(work.path()).mkdir("settings");
            QFile location(work.filePath("RivuletrixIniFilePath.ini"));
            QVERIFY(location.open(QIODevice::WriteOnly));
            location.write("[INIFilePath]\nINIFilePathWin7=" +
                           QFile::encodeName(work.filePath("settings")) + "\n");
            location.close();
            QFile ini(work.filePath("settings/RivuletrixApp.ini"));
            QVERIFY(ini.open(QIODevice::WriteOnly));
            ini.write("[Default Parameters]\nReportHeader1=St. Elsewhere Clinical Eng\n"
                      "ReportHeader2=Pump Workshop\n");
            ini.close();
        }
        const QString pdf = Out("headers.pdf");
        const Result r =
            Cli({"report", Write("h.p8d", synth::Flow(10, 10000, 100)), "--out", pdf}, work.path());
        QCOMPARE(r.exitCode, 0);
        QProcess text;
        text.start(QStringLiteral("pdftotext"),
                   {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(60000));
        const QString page = QString::fromUtf8(text.readAllStandardOutput());
        QCOMPARE(page.contains("St. Elsewhere Clinical Eng"), settings);
        QCOMPARE(page.contains("Pump Workshop"), settings);
        QCOMPARE(page.contains("Biomedical Engineering"), !settings); // the record's line
    }
};

QTEST_GUILESS_MAIN(TestViewCli)
#include "test_view_cli.moc"
