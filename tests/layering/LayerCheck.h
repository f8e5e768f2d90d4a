#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

// Reads every #include of a source tree and reports those that break the
// layer order: a file includes only from its own folder and the folders
// before it, peers of one layer never include each other, and a file of the
// widget-free core never includes a widget header, directly or through a
// project header that is built into the widgets library.
namespace layercheck {

// Lowest first; folders of one inner list are peers.
inline const QList<QStringList>& Layers() {
    static const QList<QStringList> layers = {
        {QStringLiteral("base")},
        {QStringLiteral("records")},
        {QStringLiteral("store")},
        {QStringLiteral("link")},
        {QStringLiteral("testing"), QStringLiteral("view"), QStringLiteral("transfer")},
        {QStringLiteral("app")},
        {QStringLiteral("cli")},
    };
    return layers;
}

inline int LayerOf(const QString& folder) {
    const auto& layers = Layers();
    for (int i = 0; i < layers.size(); ++i)
        if (layers[i].contains(folder)) return i;
    return -1;
}

struct Tree {
    QString root; // the src folder
    // Relative to root: the files of the widgets library and the GUI program.
    // Every other file is held to the widget-free rule.
    QSet<QString> guiFiles;
    QStringList widgetIncludeDirs; // a <header> found in one of these is a widget header
};

inline bool IsWidgetHeader(const QString& header, const QStringList& widgetDirs) {
    if (header.startsWith(QLatin1String("QtWidgets/")) ||
        header.startsWith(QLatin1String("QtPrintSupport/")))
        return true;
    for (const QString& dir : widgetDirs)
        if (QFileInfo::exists(dir + QLatin1Char('/') + header)) return true;
    return false;
}

// One line per broken include: "<file>: includes <header> (<why>)".
inline QStringList Check(const Tree& tree) {
    static const QRegularExpression quoted(QStringLiteral(R"(^\s*#\s*include\s*"([^"]+)\")"));
    static const QRegularExpression angled(QStringLiteral(R"(^\s*#\s*include\s*<([^>]+)>)"));
    QStringList problems;
    const QDir root(tree.root);
    QDirIterator it(tree.root, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files,
                    QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext()) files << root.relativeFilePath(it.next());
    files.sort();
    for (const QString& file : files) {
        const QString folder = file.section(QLatin1Char('/'), 0, 0);
        const int own = LayerOf(folder);
        if (own < 0 || !file.contains(QLatin1Char('/'))) {
            problems << file + QStringLiteral(": lies in no layer folder");
            continue;
        }
        QFile f(root.filePath(file));
        if (!f.open(QIODevice::ReadOnly)) {
            problems << file + QStringLiteral(": cannot be read");
            continue;
        }
        const bool core = !tree.guiFiles.contains(file);
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            if (const auto m = quoted.match(line); m.hasMatch()) {
                const QString header = m.captured(1);
                // A header without a folder is one of this folder's own.
                const QString target =
                    header.contains(QLatin1Char('/')) ? header : folder + QLatin1Char('/') + header;
                const QString targetFolder = target.section(QLatin1Char('/'), 0, 0);
                const int layer = LayerOf(targetFolder);
                if (layer < 0) {
                    problems << QStringLiteral("%1: includes \"%2\" (no layer folder)")
                                    .arg(file, header);
                } else if (layer > own) {
                    problems << QStringLiteral("%1: includes \"%2\" (%3 lies above %4)")
                                    .arg(file, header, targetFolder, folder);
                } else if (layer == own && targetFolder != folder) {
                    problems << QStringLiteral("%1: includes \"%2\" (%3 and %4 are peers)")
                                    .arg(file, header, targetFolder, folder);
                } else if (core && tree.guiFiles.contains(target)) {
                    problems << QStringLiteral("%1: includes \"%2\" (a widget file in the core)")
                                    .arg(file, header);
                }
            } else if (const auto a = angled.match(line); a.hasMatch() && core) {
                if (IsWidgetHeader(a.captured(1), tree.widgetIncludeDirs))
                    problems << QStringLiteral("%1: includes <%2> (a widget header in the core)")
                                    .arg(file, a.captured(1));
            }
        }
    }
    return problems;
}

// Source lists as the build writes them: one absolute path per line.
inline QSet<QString> ReadSourceList(const QString& listFile, const QString& root) {
    QSet<QString> out;
    QFile f(listFile);
    if (!f.open(QIODevice::ReadOnly)) return out;
    const QString canonicalRoot = QFileInfo(root).canonicalFilePath();
    for (const QByteArray& raw : f.readAll().split('\n')) {
        const QString path = QFileInfo(QString::fromUtf8(raw.trimmed())).canonicalFilePath();
        if (path.startsWith(canonicalRoot + QLatin1Char('/')))
            out.insert(QDir(canonicalRoot).relativeFilePath(path));
    }
    return out;
}

} // namespace layercheck
