#pragma once

#include <QWidget>

// The splash: the picture and the version, until 5 s have passed or the
// first key press or click, which it consumes.
class CSplash : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMilliseconds = 5000;

    explicit CSplash(QWidget* over);
    ~CSplash() override;

Q_SIGNALS:
    void Closed();

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Finish();

    QImage m_picture;
    bool m_done = false; // a key or click was consumed
    bool m_finished = false;
};
