#pragma once

#include "base/Prompter.h"

#include <QStringList>

#include <functional>

// One top-level word of rivuletrix-cli ("record", "probe", "index" ...). Each
// command file registers its words with a static CliCommand; main() looks the
// first argument up. Output goes to standard output, errors to standard error
// with a non-zero return.
struct CliCommand {
    using Handler = std::function<int(const QStringList& args)>;
    CliCommand(const char* word, const char* usage, Handler handler);

    static const CliCommand* Find(const QString& word);
    static QString Usage();

    const char* word;
    const char* usage;
    Handler handler;
};

// Small helpers shared by the command files.
namespace cli {
// Value of "--name VALUE" in args, or def when absent.
QString Option(const QStringList& args, const QString& name, const QString& def = {});
bool Flag(const QStringList& args, const QString& name);
// Arguments that are neither options nor option values.
QStringList Positional(const QStringList& args, const QStringList& optionsWithValue);
int Fail(const QString& message);
void Print(const QByteArray& bytes);
// Print for output that is the command's result: false with the system's
// reason when a write or the flush failed (a full disk, a closed pipe).
bool PrintChecked(const QByteArray& bytes, QString* why);

// Messages (guard messages, "Com Error") go to standard error; questions are
// printed and answered No. Set as the process prompter while it lives.
class StderrPrompter : public Prompter {
public:
    // Questions are printed with the answer given: `yes` (from an option such
    // as --overwrite), otherwise no.
    explicit StderrPrompter(bool yes = false) : yes_(yes) { SetPrompter(this); }
    ~StderrPrompter() override { SetPrompter(nullptr); }
    StderrPrompter(const StderrPrompter&) = delete;
    StderrPrompter& operator=(const StderrPrompter&) = delete;
    void Message(const QString& text, Icon icon = Icon::Default) override;
    bool Question(const QString& text, Icon icon = Icon::Default) override;

private:
    bool yes_;
};
} // namespace cli
