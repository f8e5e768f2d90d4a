// rivuletrix-cli recover: the journals of tests that did not end cleanly.
#include "CliCommand.h"

#include "base/AppSettings.h"
#include "records/RivuletrixDoc.h"
#include "records/TestJournal.h"
#include "store/RecordIndex.h"
#include "testing/JournalRecovery.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

const QStringList kValueOptions = {QStringLiteral("--data-folder"),
                                   QStringLiteral("--journal-folder"), QStringLiteral("--discard")};

QJsonObject Json(const JournalRecovery& r) {
    QJsonObject o;
    o[QStringLiteral("journal")] = r.journal;
    o[QStringLiteral("samples")] = r.samples;
    o[QStringLiteral("lastSampleTicks")] = qint64(r.lastTime);
    o[QStringLiteral("lastSampleTime")] = CRivuletrixDoc::FormatHms(
        r.ticksPerSecond > 0 ? uint64_t(r.lastTime) * 1000 / uint64_t(r.ticksPerSecond) : 0);
    o[QStringLiteral("controlNumber")] = r.controlNumber;
    o[QStringLiteral("type")] = QString(QLatin1Char(r.testType));
    o[QStringLiteral("tornTail")] = r.tornTail;
    if (r.damagedBytes > 0) {
        o[QStringLiteral("damagedBytes")] = r.damagedBytes;
        o[QStringLiteral("missingSamples")] = r.missingSamples;
    }
    o[QStringLiteral("channel")] = r.channel;
    o[QStringLiteral("analyzer")] = r.analyzer;
    o[QStringLiteral("started")] = r.started;
    if (r.inUse) o[QStringLiteral("inUse")] = true;
    if (!r.record.isEmpty()) {
        o[QStringLiteral("record")] = r.record;
        o[QStringLiteral("indexed")] = r.indexed;
        if (r.alreadySaved) o[QStringLiteral("alreadySaved")] = true;
    }
    if (r.gone) o[QStringLiteral("recoveredElsewhere")] = true;
    if (!r.kept.isEmpty()) o[QStringLiteral("journalKept")] = r.kept;
    if (!r.error.isEmpty()) o[QStringLiteral("error")] = r.error;
    return o;
}

int Recover(const QStringList& args) {
    if (!cli::Positional(args, kValueOptions).isEmpty())
        return cli::Fail(QStringLiteral("recover: unexpected argument"));
    AppSettings settings;
    const QString discard = cli::Option(args, QStringLiteral("--discard"));
    QString folder = cli::Option(args, QStringLiteral("--journal-folder"));
    if (folder.isEmpty() && QFileInfo::exists(discard)) folder = QFileInfo(discard).absolutePath();
    if (folder.isEmpty()) {
        const QString ini = settings.GetIniFolder();
        if (ini.isEmpty())
            return cli::Fail(QStringLiteral(
                "no journal folder: the settings name none; use --journal-folder DIR"));
        folder = journal::Folder(ini);
    }
    if (!discard.isEmpty()) {
        // A journal named by its path, or by its file name in the folder.
        const QString path = QFileInfo::exists(discard) ? discard : QDir(folder).filePath(discard);
        QString error;
        if (!DiscardJournal(path, &error))
            return cli::Fail(QStringLiteral("recover --discard %1: %2").arg(discard, error));
        QJsonObject o;
        o[QStringLiteral("journal")] = path;
        o[QStringLiteral("discarded")] = true;
        cli::Print(QJsonDocument(o).toJson(QJsonDocument::Indented));
        return 0;
    }
    const QStringList paths = journal::List(folder);

    QJsonArray out;
    bool failed = false;
    if (cli::Flag(args, QStringLiteral("--list"))) {
        for (const QString& p : paths) out.append(Json(InspectJournal(p)));
    } else {
        QString data = cli::Option(args, QStringLiteral("--data-folder"));
        if (data.isEmpty()) data = settings.GetDataPath();
        if (data.isEmpty())
            return cli::Fail(
                QStringLiteral("no data folder: the settings name none; use --data-folder DIR"));
        RecordIndex index(settings);
        index.SetDataFolder(data);
        index.SetStartupFinished(true);
        for (const QString& p : paths) {
            const JournalRecovery r = RecoverJournal(p, data, &index);
            // A test still running elsewhere is not a failure: its journal
            // waits for that test's end.
            failed = failed || (r.record.isEmpty() && !r.inUse && !r.gone);
            if (!r.kept.isEmpty())
                std::fprintf(stderr, "recover: %s: %s\n", qUtf8Printable(p),
                             qUtf8Printable(r.kept));
            out.append(Json(r));
        }
    }
    cli::Print(QJsonDocument(out).toJson(QJsonDocument::Indented));
    return failed ? 1 : 0;
}

const CliCommand recoverCommand(
    "recover",
    "recover [--list] [--data-folder DIR] [--journal-folder DIR] [--discard JOURNAL]  (journals "
    "of unfinished tests)",
    Recover);

} // namespace
