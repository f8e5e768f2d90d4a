// The include order of the source tree, and the checker itself on small trees
// that break it.
#include "LayerCheck.h"

#include <QTemporaryDir>
#include <QTest>

class TestLayering : public QObject {
    Q_OBJECT

    static void Write(const QString& root, const QString& file, const QByteArray& text) {
        const QString path = root + QLatin1Char('/') + file;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

private Q_SLOTS:
    void sourceTreeKeepsTheOrder() {
        layercheck::Tree tree;
        tree.root = QStringLiteral(RX_SOURCE_DIR "/src");
        tree.guiFiles = layercheck::ReadSourceList(QStringLiteral(RX_GUI_SOURCES), tree.root);
        // Qt's lists also name the shared include root; only the modules' own
        // folders tell widget headers apart.
        for (const QString& dir :
             QString::fromUtf8(RX_WIDGET_INCLUDE_DIRS).split(QLatin1Char('|'), Qt::SkipEmptyParts))
            if (dir.endsWith(QLatin1String("QtWidgets")) ||
                dir.endsWith(QLatin1String("QtPrintSupport")))
                tree.widgetIncludeDirs << dir;
        QVERIFY2(!tree.widgetIncludeDirs.isEmpty(), "Qt's widget include folders are missing");
        QVERIFY2(!tree.guiFiles.isEmpty(), "the list of widget files is missing");
        const QStringList problems = layercheck::Check(tree);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    }

    void checkerFindsBrokenIncludes_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("gui");
        QTest::addColumn<QString>("problem"); // empty: none expected

        QTest::newRow("own folder")
            << "link/A.cpp" << QByteArray("#include \"B.h\"\n") << false << "";
        QTest::newRow("lower folder")
            << "view/A.cpp" << QByteArray("#include \"records/RivuletrixDoc.h\"\n") << false << "";
        QTest::newRow("higher folder")
            << "link/A.cpp" << QByteArray("#include \"app/RivuletrixApp.h\"\n") << false
            << "link/A.cpp: includes \"app/RivuletrixApp.h\" (app lies above link)";
        QTest::newRow("base reaches up")
            << "base/A.h" << QByteArray("  #  include \"records/Sample.h\"\n") << false
            << "base/A.h: includes \"records/Sample.h\" (records lies above base)";
        QTest::newRow("peers")
            << "view/A.cpp" << QByteArray("#include \"testing/RunController.h\"\n") << false
            << "view/A.cpp: includes \"testing/RunController.h\" (testing and view are peers)";
        QTest::newRow("unknown folder")
            << "store/A.cpp" << QByteArray("#include \"misc/X.h\"\n") << false
            << "store/A.cpp: includes \"misc/X.h\" (no layer folder)";
        QTest::newRow("widget header in core")
            << "records/A.cpp" << QByteArray("#include <QtWidgets/QWidget>\n") << false
            << "records/A.cpp: includes <QtWidgets/QWidget> (a widget header in the core)";
        QTest::newRow("widget header in gui file")
            << "view/A.cpp" << QByteArray("#include <QtWidgets/QWidget>\n") << true << "";
        QTest::newRow("gui file from core")
            << "view/A.cpp" << QByteArray("#include \"view/Gui.h\"\n") << false
            << "view/A.cpp: includes \"view/Gui.h\" (a widget file in the core)";
        QTest::newRow("file outside any layer")
            << "Loose.cpp" << QByteArray("\n") << false << "Loose.cpp: lies in no layer folder";
    }
    void checkerFindsBrokenIncludes() {
        QFETCH(QString, file);
        QFETCH(QByteArray, text);
        QFETCH(bool, gui);
        QFETCH(QString, problem);
        QTemporaryDir dir;
        Write(dir.path(), file, text);
        Write(dir.path(), QStringLiteral("view/Gui.h"), "#include <QtWidgets/QWidget>\n");
        layercheck::Tree tree;
        tree.root = dir.path();
        tree.guiFiles.insert(QStringLiteral("view/Gui.h"));
        if (gui) tree.guiFiles.insert(file);
        const QStringList problems = layercheck::Check(tree);
        QCOMPARE(problems, problem.isEmpty() ? QStringList() : QStringList{problem});
    }
};

QTEST_GUILESS_MAIN(TestLayering)
#include "test_layering.moc"
