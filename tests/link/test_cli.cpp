// rivuletrix-cli probe, info and records against simulated analyzers.
#include "../ProcessRun.h"
#include "SimProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

namespace {
using clitest::Result;

Result Cli(const QStringList& args, const QByteArray& ports = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("RIVULETRIX_PORTS", QString::fromLocal8Bit(ports));
    return clitest::Cli(args, {}, {}, env);
}
} // namespace

class TestCli : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        if (!SimProcess::Available()) QSKIP("RIVULETRIX_SIM does not name the simulator");
        if (!QFile::exists(QStringLiteral(RX_BINARY_DIR "/src/cli/rivuletrix-cli")))
            QSKIP("rivuletrix-cli is not built");
    }

    void probe() {
        SimProcess a("a", {"--model", "PXR-8", "--name", "Bench A", "--serial", "80001234",
                           "--channels", "1,2,4"});
        SimProcess b("b", {"--model", "PXR2K", "--name", "Bench B", "--serial", "20005678"});
        QVERIFY(a.Ok() && b.Ok());
        // No ports named: the scan of the program, with RIVULETRIX_PORTS.
        const Result r = Cli({"probe"}, (a.Link() + ':' + b.Link()).toLocal8Bit());
        QCOMPARE(r.exitCode, 0);
        const QJsonArray list = QJsonDocument::fromJson(r.out).array();
        QCOMPARE(list.size(), 2);
        const QJsonObject first = list[0].toObject();
        QCOMPARE(first["port"].toString(), a.Link());
        QCOMPARE(first["name"].toString(), QStringLiteral("Bench A"));
        QCOMPARE(first["serial"].toString(), QStringLiteral("80001234"));
        QCOMPARE(first["model"].toString(), QStringLiteral("PXR-8"));
        QCOMPARE(first["channels"].toArray(), (QJsonArray{1, 1, 0, 1}));
        QCOMPARE(first["kind"].toInt(), 2);
        QCOMPARE(list[1].toObject()["model"].toString(), QStringLiteral("PXR2K"));
        // Named ports only.
        const Result one = Cli({"probe", b.Link()});
        QCOMPARE(QJsonDocument::fromJson(one.out).array().size(), 1);
    }

    void info() {
        SimProcess a("a", {"--model", "PXR2K", "--name", "Bench B", "--serial", "20005678",
                           "--firmware", "3.01"});
        QVERIFY(a.Ok());
        const Result r = Cli({"info", a.Link()});
        QCOMPARE(r.exitCode, 0);
        const QJsonObject o = QJsonDocument::fromJson(r.out).object();
        QCOMPARE(o["P2"].toString(), QStringLiteral("PXR2K"));
        QCOMPARE(o["P5"].toString(), QStringLiteral("Bench B"));
        QCOMPARE(o["serial"].toString(), QStringLiteral("20005678"));
        QCOMPARE(o["firmware"].toString(), QStringLiteral("3.01"));
        const QJsonArray ch = o["channels"].toArray();
        QCOMPARE(ch.size(), 4);
        QVERIFY(!ch[0].toObject()["serial"].toString().isEmpty());
        for (int i = 1; i < 4; ++i) QCOMPARE(ch[i].toString(), QStringLiteral("Not Connected"));
        QVERIFY(Cli({"info", "/nonexistent/tty"}).exitCode != 0);
    }

    void records() {
        SimProcess a("a", {"--preset-records", "4"});
        QVERIFY(a.Ok());
        Result r = Cli({"records", a.Link()});
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.trimmed(), QByteArray("4"));
        QTemporaryDir dir;
        const QString out = dir.filePath("rec4.p8d");
        r = Cli({"records", a.Link(), "--get", "4", "--out", out});
        QCOMPARE(r.exitCode, 0);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray data = f.readAll();
        QVERIFY(data.startsWith("N3\r\nH1,"));
        QVERIFY(data.endsWith("\r\nE0"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
