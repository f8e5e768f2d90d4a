// File names made from outside text: every name is one plain component that
// stays in its folder, and ordinary text is kept as it is.
#include "base/SafeFileName.h"

#include <QDir>
#include <QTest>

class TestSafeFileName : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void name_data() {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("name");
        QTest::newRow("ordinary") << "RXt_"
                                  << "Ward 7-B"
                                  << ".p8t"
                                  << "RXt_Ward 7-B.p8t";
        QTest::newRow("accented") << "RXt_" << QStringLiteral("Pédiatrie") << ".p8t"
                                  << QStringLiteral("RXt_Pédiatrie.p8t");
        QTest::newRow("separators") << ""
                                    << "../a\\b"
                                    << ".p8u"
                                    << ".._a_b.p8u";
        QTest::newRow("empty alone") << ""
                                     << ""
                                     << ""
                                     << "_";
        QTest::newRow("dot alone") << ""
                                   << "."
                                   << ""
                                   << "__";
        QTest::newRow("dot dot alone") << ""
                                       << ".."
                                       << ""
                                       << "_._";
        QTest::newRow("trailing dot and blank") << ""
                                                << "notes. "
                                                << ""
                                                << "notes._";
        QTest::newRow("delete character") << ""
                                          << "a\x7f"
                                             "b"
                                          << ""
                                          << "a_b";
        QTest::newRow("lone surrogate") << "" << QString(QChar(0xD800)) + QStringLiteral("x") << ""
                                        << "_x";
        // Windows would open the device, whatever the case or extension.
        QTest::newRow("device name") << ""
                                     << "con"
                                     << ""
                                     << "_con";
        QTest::newRow("device name with extension") << ""
                                                    << "COM1"
                                                    << ".p8t"
                                                    << "_COM1.p8t";
        QTest::newRow("device name before blanks") << ""
                                                   << "Lpt9 .x"
                                                   << ""
                                                   << "_Lpt9 .x";
        QTest::newRow("longer than a device name") << ""
                                                   << "COM10"
                                                   << ".p8t"
                                                   << "COM10.p8t";
        QTest::newRow("device name inside") << "RXt_"
                                            << "NUL"
                                            << ".p8t"
                                            << "RXt_NUL.p8t";
        const QString clef = QString::fromUtf16(u"\U0001D11E"); // 4 UTF-8 bytes
        QTest::newRow("pair kept whole at the cut")
            << "" << QString(253, QLatin1Char('a')) + clef << "" << QString(253, QLatin1Char('a'));
        QTest::newRow("three-byte characters cut to fit")
            << "P" << QString(100, QChar(0x20AC)) << ".x"
            << QStringLiteral("P") + QString(84, QChar(0x20AC)) + QStringLiteral(".x");
    }
    void name() {
        QFETCH(QString, prefix);
        QFETCH(QString, text);
        QFETCH(QString, suffix);
        QFETCH(QString, name);
        const QString made = safename::Name(prefix, text, suffix);
        QCOMPARE(made, name);
        QVERIFY(safename::IsSafe(made));
        QVERIFY(made.toUtf8().size() <= safename::kMaxNameBytes);
    }

    // Every byte value as a name stays one component of its folder.
    void everyByteStaysInItsFolder() {
        const QDir folder(QStringLiteral("/data/records"));
        for (int b = 0; b < 256; ++b) {
            const QString text = QString(QChar(b)) + QStringLiteral("/..") + QChar(b);
            const QString made = safename::Name({}, text, {});
            QVERIFY2(safename::IsSafe(made), qPrintable(QString::number(b)));
            // absolutePath: with the drive letter on Windows.
            QCOMPARE(QFileInfo(folder.filePath(made)).absolutePath(),
                     QFileInfo(folder.path()).absoluteFilePath());
        }
    }

    void isSafe_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("safe");
        QTest::newRow("plain") << "RXr_F2026kdp8d_T1.p8d" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("dot") << "." << false;
        QTest::newRow("dot dot") << ".." << false;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("too long") << QString(256, QLatin1Char('a')) << false;
        QTest::newRow("trailing dot") << "a." << false;
        QTest::newRow("device") << "aux.p8d" << false;
    }
    void isSafe() {
        QFETCH(QString, name);
        QFETCH(bool, safe);
        QCOMPARE(safename::IsSafe(name), safe);
    }
};

QTEST_GUILESS_MAIN(TestSafeFileName)
#include "test_safe_file_name.moc"
