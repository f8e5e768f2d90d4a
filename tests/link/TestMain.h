#pragma once

#include <QCoreApplication>
#include <QTest>

// main() of the threaded link tests. Qt's glib event dispatcher synchronizes
// through glib, which ThreadSanitizer cannot see; Qt's own dispatcher is used
// instead.
#define RX_LINK_TEST_MAIN(TestClass)                                                               \
    int main(int argc, char** argv) {                                                              \
        qputenv("QT_NO_GLIB", "1");                                                                \
        QCoreApplication app(argc, argv);                                                          \
        TestClass test;                                                                            \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
