// Writes the synthetic records of the view tests and pictures into a folder:
// make_view_records OUTDIR
#include "SyntheticRecords.h"

#include <QDir>
#include <QFile>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs("usage: make_view_records OUTDIR\n", stderr);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const auto write = [&](const char* name, const QByteArray& text) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size()) {
            std::fprintf(stderr, "cannot write %s\n", name);
            return false;
        }
        return true;
    };
    // One hour of 12.5 ml/h every 5 s with noise, a bubble and an air-lock run.
    const QByteArray flow = synth::Flow(12.5, 5000, 720, 0.15, [](int i) {
        if (i == 300) return 'b';
        if (i >= 500 && i < 504) return 'a';
        return ' ';
    });
    const QByteArray occlusion = synth::Occlusion(600, 1000, 900, 700, -30);
    const QByteArray pca = synth::Pca(2.0, 4, 240, 12, 1.0);
    // Two hours and five minutes of 10 ml/h every 10 s.
    const QByteArray trumpet = synth::Flow(10.0, 10000, 750, 0.2);
    bool ok = write("flow.p8d", flow) && write("occlusion.p8d", occlusion) &&
              write("pca.p8d", pca) && write("trumpet.p8d", trumpet);
    return ok ? 0 : 1;
}
