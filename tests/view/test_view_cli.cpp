// rivuletrix-cli render and report on synthetic records: PNG and PDF
// output, options, the data table as CSV, and the errors of records that
// cannot be drawn.
#include "SyntheticRecords.h"

#include <QFile>

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
namespace {

struct Result {
    int exitCode = -1;
    QByteArray out, err;
};

Result Cli(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli"), args);
    Result r;
    if (!p.waitForFinished(120000)) return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

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
    }
    void reportErrors() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        args.replaceInStrings("SHORT", Write("short.p8d", synth::Flow(10, 10000, 100)));
        args.replaceInStrings("TEMPLATE",
                              QStringLiteral(RX_TEST_DATA "/records/template_3step.p8d"));
        args.replaceInStrings("OUT", Out("bad.pdf"));
        const Result r = Cli(args);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(QString::fromLocal8Bit(r.err).contains(message), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestViewCli)
#include "test_view_cli.moc"
