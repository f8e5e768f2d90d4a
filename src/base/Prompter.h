#pragma once

#include <QString>
#include <QStringList>

// How logic code asks the user. The GUI answers with message boxes; tests and
// the command-line tool with a scripted implementation.
class Prompter {
public:
    enum class Icon { Default, Information, Warning, Error, Question };

    virtual ~Prompter() = default;
    // An OK box.
    virtual void Message(const QString& text, Icon icon = Icon::Default) = 0;
    // A Yes/No question; true for Yes.
    virtual bool Question(const QString& text, Icon icon = Icon::Default) = 0;
    // The same with No as the default answer, for questions whose Yes loses
    // data: Enter must not destroy anything.
    virtual bool QuestionDefaultNo(const QString& text, Icon icon = Icon::Default) {
        return Question(text, icon);
    }
};

// Records every text and answers questions from a queue (No when it runs dry,
// unless told otherwise). Used by tests and the command-line tool.
class ScriptedPrompter : public Prompter {
public:
    void Message(const QString& text, Icon icon = Icon::Default) override;
    bool Question(const QString& text, Icon icon = Icon::Default) override;
    bool QuestionDefaultNo(const QString& text, Icon icon = Icon::Default) override {
        defaultNo << text;
        return Question(text, icon);
    }

    void QueueAnswer(bool yes) { m_answers.append(yes); }
    void SetDefaultAnswer(bool yes) { m_defaultAnswer = yes; }

    QStringList messages;  // every OK-box text, in order
    QStringList questions; // every question text, in order
    QStringList defaultNo; // the questions among them asked with No as the default

private:
    QList<bool> m_answers;
    bool m_defaultAnswer = false;
};

// The process-wide prompter; a ScriptedPrompter that says No until one is set.
Prompter& ThePrompter();
void SetPrompter(Prompter* prompter);
