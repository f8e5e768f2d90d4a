// rivuletrix-cli render on synthetic records: PNG and PDF output, options
// and the errors of records that cannot be drawn.
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
};

QTEST_GUILESS_MAIN(TestViewCli)
#include "test_view_cli.moc"
