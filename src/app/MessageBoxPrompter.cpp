#include "MessageBoxPrompter.h"

#include <QApplication>
#include <QMessageBox>

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

void MessageBoxPrompter::Message(const QString& text, Icon icon) {
    QMessageBox box(ToBoxIcon(icon, QMessageBox::Warning), QApplication::applicationDisplayName(),
                    text, QMessageBox::Ok, m_parent);
    box.exec();
}

bool MessageBoxPrompter::Question(const QString& text, Icon icon) {
    QMessageBox box(ToBoxIcon(icon, QMessageBox::Question), QApplication::applicationDisplayName(),
                    text, QMessageBox::Yes | QMessageBox::No, m_parent);
    return box.exec() == QMessageBox::Yes;
}
