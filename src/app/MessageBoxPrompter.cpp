#include "MessageBoxPrompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace {
QMessageBox::Icon ToBoxIcon(Prompter::Icon icon, QMessageBox::Icon def) {
    switch (icon) {
    case Prompter::Icon::Information:
        return QMessageBox::Information;
    case Prompter::Icon::Warning:
        return QMessageBox::Warning;
    case Prompter::Icon::Error:
        return QMessageBox::Critical;
    case Prompter::Icon::Question:
        return QMessageBox::Question;
    case Prompter::Icon::Default:
        break;
    }
    return def;
}
} // namespace

bool MessageBoxPrompter::OnUiThread() {
    return !qApp || QThread::currentThread() == qApp->thread();
}

void MessageBoxPrompter::Message(const QString& text, Icon icon) {
    if (!OnUiThread()) {
        // A worker's message is shown by the UI thread; the worker waits.
        QMetaObject::invokeMethod(
            qApp, [this, text, icon] { Message(text, icon); }, Qt::BlockingQueuedConnection);
        return;
    }
    QMessageBox box(ToBoxIcon(icon, QMessageBox::Warning), QApplication::applicationDisplayName(),
                    text, QMessageBox::Ok, m_parent);
    box.exec();
}

bool MessageBoxPrompter::Question(const QString& text, Icon icon) {
    return Ask(text, icon, false);
}

bool MessageBoxPrompter::QuestionDefaultNo(const QString& text, Icon icon) {
    return Ask(text, icon, true);
}

bool MessageBoxPrompter::Ask(const QString& text, Icon icon, bool defaultNo) {
    if (!OnUiThread()) {
        bool yes = false;
        QMetaObject::invokeMethod(
            qApp, [this, text, icon, defaultNo, &yes] { yes = Ask(text, icon, defaultNo); },
            Qt::BlockingQueuedConnection);
        return yes;
    }
    QMessageBox box(ToBoxIcon(icon, QMessageBox::Question), QApplication::applicationDisplayName(),
                    text, QMessageBox::Yes | QMessageBox::No, m_parent);
    if (defaultNo) box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
