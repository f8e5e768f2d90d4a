#pragma once

#include "base/Prompter.h"

class QWidget;

// Message boxes captioned with the application's name. Called from another
// thread (a transfer worker), the box is shown by the UI thread while the
// caller waits for the answer.
class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }

    void Message(const QString& text, Icon icon = Icon::Default) override;
    bool Question(const QString& text, Icon icon = Icon::Default) override;
    bool QuestionDefaultNo(const QString& text, Icon icon = Icon::Default) override;

private:
    static bool OnUiThread();
    bool Ask(const QString& text, Icon icon, bool defaultNo);

    QWidget* m_parent;
};
