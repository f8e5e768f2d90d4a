// rx-make-seeds DIR: writes the pristine databases RX_Records.bak and
// RX_Templates.bak into DIR (replacing older ones). Run by the build.
#include "StoreSchema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: rx-make-seeds DIR\n");
        return 2;
    }
    const QDir dir(args[1]);
    for (store::DbKind kind : {store::DbKind::Records, store::DbKind::Templates}) {
        const QString path = dir.filePath(store::SeedFileName(kind));
        const QString temp = path + QStringLiteral(".new");
        QFile::remove(temp);
        QString error;
        if (!store::CreateEmptyDatabase(temp, kind, &error)) {
            std::fprintf(stderr, "rx-make-seeds: %s\n", qPrintable(error));
            return 1;
        }
        QFile::remove(path);
        if (!QFile::rename(temp, path)) {
            std::fprintf(stderr, "rx-make-seeds: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
