#include "SingleInstance.h"

#ifdef Q_OS_WIN
#include <windows.h>

struct SingleInstance::Held {
    HANDLE mutex = nullptr;
};

SingleInstance::SingleInstance(const QString& name) : m_held(std::make_unique<Held>()) {
    // Made as its owner and released at once: only its existence counts, and
    // it lasts as long as this process keeps the handle.
    m_held->mutex = CreateMutexW(nullptr, TRUE, reinterpret_cast<const wchar_t*>(name.utf16()));
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (m_held->mutex) ReleaseMutex(m_held->mutex);
    m_first = m_held->mutex && !existed;
}

SingleInstance::~SingleInstance() {
    if (m_held->mutex) CloseHandle(m_held->mutex);
}

#else
#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

struct SingleInstance::Held {
    std::unique_ptr<QLockFile> lock;
};

SingleInstance::SingleInstance(const QString& name) : m_held(std::make_unique<Held>()) {
    QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty()) runtime = QDir::tempPath();
    m_held->lock =
        std::make_unique<QLockFile>(runtime + QLatin1Char('/') + name + QStringLiteral(".lock"));
    m_held->lock->setStaleLockTime(0);
    m_first = m_held->lock->tryLock(0);
}

SingleInstance::~SingleInstance() = default;

#endif
