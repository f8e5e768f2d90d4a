#pragma once

#include <QObject>

#include <memory>

// Ctrl+C and the end of the session reach the event loop as Arrived(signal
// number): SIGINT or SIGTERM, and on Windows Ctrl+C or Ctrl+Break (SIGINT)
// and a closed console, log-off or shut-down (SIGTERM). Installed for the
// life of the object; the earlier handling comes back after it.
class Interrupts : public QObject {
    Q_OBJECT
public:
    Interrupts();
    ~Interrupts() override;
    bool Installed() const { return m_installed; }

Q_SIGNALS:
    void Arrived(int signal);

private:
    bool m_installed = false;
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};
