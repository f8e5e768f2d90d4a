#include "app/MessageBoxPrompter.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Rivuletrix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Rivuletrix"));
    QApplication::setApplicationVersion(QStringLiteral(RIVULETRIX_VERSION));
    MessageBoxPrompter prompter;
    SetPrompter(&prompter);

    QMainWindow frame;
    frame.setWindowTitle(QStringLiteral("Rivuletrix Test Application"));
    frame.resize(1280, 800);
    prompter.SetParent(&frame);
    frame.show();
    return app.exec();
}
