#include "Prompter.h"

#include "Trace.h"

#include <atomic>

void ScriptedPrompter::Message(const QString& text, Icon) {
    qCDebug(lcTrace) << "Message:" << text;
    messages.append(text);
}

bool ScriptedPrompter::Question(const QString& text, Icon) {
    qCDebug(lcTrace) << "Question:" << text;
    questions.append(text);
    if (m_answers.isEmpty()) return m_defaultAnswer;
    return m_answers.takeFirst();
}

namespace {
std::atomic<Prompter*> g_prompter{nullptr};
}

Prompter& ThePrompter() {
    static ScriptedPrompter fallback;
    Prompter* p = g_prompter.load();
    return p ? *p : fallback;
}

void SetPrompter(Prompter* prompter) {
    g_prompter.store(prompter);
}
