#pragma once

// A small file system that fills up: a tmpfs of a few kilobytes mounted on a
// fresh folder. Mounting needs root (CI runs as root); elsewhere Usable()
// says why not and the test skips with that message.
#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

#if defined(Q_OS_LINUX)
#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>
#endif

class SmallTmpfs {
public:
    explicit SmallTmpfs(qint64 bytes) {
#if defined(Q_OS_LINUX)
        if (::geteuid() != 0) {
            m_why = QStringLiteral("mounting a small tmpfs needs root");
            return;
        }
        if (!m_dir.isValid()) {
            m_why = QStringLiteral("no temporary folder");
            return;
        }
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
        if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0,
                    options.constData()) != 0) {
            m_why =
                QStringLiteral("mount tmpfs: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        m_mounted = true;
#else
        Q_UNUSED(bytes);
        m_why = QStringLiteral("a small tmpfs is a Linux test");
#endif
    }
    ~SmallTmpfs() {
        Unmount();
    }
    SmallTmpfs(const SmallTmpfs&) = delete;
    SmallTmpfs& operator=(const SmallTmpfs&) = delete;

    bool Usable() const {
        return m_mounted;
    }
    QString WhyNot() const {
        return m_why;
    }
    QString Path() const {
        return m_dir.path();
    }

    // Fills what is left with one file, so that the next write fails.
    void Fill() const {
        QFile f(m_dir.path() + QStringLiteral("/.filler"));
        if (!f.open(QIODevice::Append | QIODevice::Unbuffered)) return;
        const QByteArray block(512, 'x');
        while (f.write(block) == block.size()) {
        }
        while (f.write("x", 1) == 1) {
        }
    }
    // Frees what Fill took.
    void Free() const {
        QFile::remove(m_dir.path() + QStringLiteral("/.filler"));
    }

    void Unmount() {
#if defined(Q_OS_LINUX)
        if (m_mounted) ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
#endif
        m_mounted = false;
    }

private:
    QTemporaryDir m_dir;
    QString m_why;
    bool m_mounted = false;
};

// In a test function: skips with the reason when no small tmpfs can be had.
#define RX_SMALL_TMPFS(name, bytes)                                                                \
    SmallTmpfs name(bytes);                                                                        \
    if (!name.Usable()) QSKIP(qPrintable(name.WhyNot()))
