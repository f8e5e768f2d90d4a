#include "CliCommand.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
std::vector<const CliCommand*>& Registry() {
    static std::vector<const CliCommand*> commands;
    return commands;
}
} // namespace

CliCommand::CliCommand(const char* w, const char* u, Handler h)
    : word(w), usage(u), handler(std::move(h)) {
    Registry().push_back(this);
}

const CliCommand* CliCommand::Find(const QString& w) {
    for (const CliCommand* c : Registry())
        if (w == QLatin1String(c->word)) return c;
    return nullptr;
}

QString CliCommand::Usage() {
    QString text = QStringLiteral("usage: rivuletrix-cli COMMAND ...\n");
    for (const CliCommand* c : Registry())
        text += QStringLiteral("  ") + QString::fromUtf8(c->usage) + '\n';
    return text;
}

namespace cli {
QString Option(const QStringList& args, const QString& name, const QString& def) {
    const qsizetype i = args.indexOf(name);
    if (i < 0 || i + 1 >= args.size()) return def;
    return args.at(i + 1);
}

bool Flag(const QStringList& args, const QString& name) {
    return args.contains(name);
}

QStringList Positional(const QStringList& args, const QStringList& optionsWithValue) {
    QStringList out;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (optionsWithValue.contains(args[i])) {
            ++i;
            continue;
        }
        // "-5" is a value, "--x" an option.
        if (args[i].startsWith(QLatin1String("--"))) continue;
        out << args[i];
    }
    return out;
}

int Fail(const QString& message) {
    std::fprintf(stderr, "rivuletrix-cli: %s\n", message.toLocal8Bit().constData());
    return 1;
}

void Print(const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

bool PrintChecked(const QByteArray& bytes, QString* why) {
    errno = 0;
    const bool ok =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size()) &&
        std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!ok && why) *why = QString::fromLocal8Bit(std::strerror(errno ? errno : EIO));
    return ok;
}
} // namespace cli

void cli::StderrPrompter::Message(const QString& text, Icon) {
    std::fprintf(stderr, "rivuletrix-cli: %s\n", text.toLocal8Bit().constData());
}

bool cli::StderrPrompter::Question(const QString& text, Icon) {
    std::fprintf(stderr, "rivuletrix-cli: %s (%s)\n", text.toLocal8Bit().constData(),
                 yes_ ? "yes" : "no");
    return yes_;
}
