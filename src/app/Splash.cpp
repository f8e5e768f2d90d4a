#include "Splash.h"

#include "Artwork.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QTimer>

CSplash::CSplash(QWidget* over)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_picture(artwork::SplashPicture()) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(m_picture.size());
    setCursor(Qt::ArrowCursor);
    if (over) move(over->geometry().center() - rect().center());
    qApp->installEventFilter(this);
    QTimer::singleShot(kMilliseconds, this, &CSplash::Finish);
}

CSplash::~CSplash() {
    qApp->removeEventFilter(this);
}

void CSplash::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, m_picture);
    p.setPen(Qt::white);
    p.drawText(width() - 105, height() - 40, QStringLiteral("Ver. " RIVULETRIX_VERSION));
}

bool CSplash::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::NonClientAreaMouseButtonPress:
        if (m_done) return false;
        // The key or click that closes the splash goes no further.
        m_done = true;
        QTimer::singleShot(0, this, &CSplash::Finish);
        return true;
    default:
        return false;
    }
}

void CSplash::Finish() {
    if (m_finished) return;
    m_finished = true;
    m_done = true;
    qApp->removeEventFilter(this);
    hide();
    Q_EMIT Closed();
    deleteLater();
}
