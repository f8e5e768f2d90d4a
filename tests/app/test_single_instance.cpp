// One running program per session: a second start finds the name taken until
// the first has ended. A named mutex on Windows, a lock file elsewhere; both
// are checked within one process, which is how a second instance sees them.
#include "app/SingleInstance.h"

#include <QTest>
#include <QUuid>

#include <memory>

class TestSingleInstance : public QObject {
    Q_OBJECT

    static QString FreshName() {
        return QStringLiteral("RIVULETRIX-TEST-") + QUuid::createUuid().toString(QUuid::Id128);
    }

private Q_SLOTS:
    void secondStartFindsTheNameTaken() {
        const QString name = FreshName();
        auto first = std::make_unique<SingleInstance>(name);
        QVERIFY(first->First());
        {
            const SingleInstance second(name);
            QVERIFY(!second.First());
        }
        // A refused start does not free the name, the first still holds it.
        QVERIFY(!SingleInstance(name).First());
        first.reset();
        QVERIFY(SingleInstance(name).First());
    }

    void otherNamesAreFree() {
        const SingleInstance a(FreshName());
        const SingleInstance b(FreshName());
        QVERIFY(a.First());
        QVERIFY(b.First());
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
