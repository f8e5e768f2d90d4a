#pragma once

#include "base/Prompter.h"

class QWidget;

// Message boxes captioned with the application's name.
class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }

    void Message(const QString& text, Icon icon = Icon::Default) override;
    bool Question(const QString& text, Icon icon = Icon::Default) override;

private:
    QWidget* m_parent;
};
