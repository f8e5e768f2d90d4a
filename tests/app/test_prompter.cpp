// The message-box prompter asked from a worker thread: the box is made and
// shown by the UI thread, the worker waits for it and gets the answer.
#include "app/MessageBoxPrompter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

class TestPrompter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void workerAsksThroughTheUiThread_data() {
        QTest::addColumn<bool>("question");
        QTest::addColumn<bool>("yes");
        QTest::newRow("message") << false << false;
        QTest::newRow("question, Yes") << true << true;
        QTest::newRow("question, No") << true << false;
    }
    void workerAsksThroughTheUiThread() {
        QFETCH(bool, question);
        QFETCH(bool, yes);
        MessageBoxPrompter prompter;
        std::atomic<bool> done{false};
        bool answer = !yes;
        std::thread worker([&] {
            if (question)
                answer = prompter.Question(QStringLiteral("Overwrite the template?"));
            else
                prompter.Message(QStringLiteral("Instruction Manual Sent"));
            done = true;
        });
        QThread* boxThread = nullptr;
        QString boxText;
        // The box runs its own loop on the UI thread; a timer answers it.
        QTimer answerer;
        answerer.setInterval(20);
        connect(&answerer, &QTimer::timeout, this, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(w);
                if (!box || !box->isVisible() || boxThread) continue;
                boxThread = box->thread();
                boxText = box->text();
                QAbstractButton* b = box->button(
                    question ? (yes ? QMessageBox::Yes : QMessageBox::No) : QMessageBox::Ok);
                QMetaObject::invokeMethod(b, "click", Qt::QueuedConnection);
            }
        });
        answerer.start();
        QElapsedTimer t;
        t.start();
        while (!done && t.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        answerer.stop();
        worker.join();
        QCOMPARE(boxThread, QThread::currentThread());
        QCOMPARE(boxText, question ? QStringLiteral("Overwrite the template?")
                                   : QStringLiteral("Instruction Manual Sent"));
        if (question) QCOMPARE(answer, yes);
    }

    // Enter on a question whose Yes destroys data (deleting templates or
    // records) answers No.
    void enterAnswersTheDefault_data() {
        QTest::addColumn<bool>("defaultNo");
        QTest::addColumn<bool>("expected");
        QTest::newRow("question") << false << true;
        QTest::newRow("question whose Yes loses data") << true << false;
    }
    void enterAnswersTheDefault() {
        QFETCH(bool, defaultNo);
        QFETCH(bool, expected);
        MessageBoxPrompter prompter;
        QTimer::singleShot(50, this, [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
                    QTest::keyClick(box, Qt::Key_Return);
        });
        const QString text = QStringLiteral("Do you want to delete the Template");
        const bool answer = defaultNo ? prompter.QuestionDefaultNo(text) : prompter.Question(text);
        QCOMPARE(answer, expected);
    }
};

QTEST_MAIN(TestPrompter)
#include "test_prompter.moc"
