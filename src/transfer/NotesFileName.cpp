#include "NotesFileName.h"

#include <QFileInfo>

namespace notesfile {

bool Resolve(const QString& chosen, QString& path, QString* error) {
    const QFileInfo info(chosen);
    if (chosen.isEmpty() || info.fileName().isEmpty()) {
        if (error) *error = QStringLiteral("No file name was given for the user notes.");
        return false;
    }
    const QString suffix = info.suffix();
    if (suffix.isEmpty() && !info.fileName().endsWith(QLatin1Char('.'))) {
        path = chosen + QStringLiteral(".p8u");
        return true;
    }
    if (suffix.compare(QLatin1String("p8u"), Qt::CaseInsensitive) != 0) {
        if (error) *error = QStringLiteral("Only .p8u extension file can be saved");
        return false;
    }
    path = chosen;
    return true;
}

} // namespace notesfile
