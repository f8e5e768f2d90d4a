#include "CheckedSaveFile.h"

#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <filesystem>

#if defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

bool SyncToDisk(QFile& f) {
#if defined(Q_OS_WIN)
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(f.handle()))) != 0;
#else
    return ::fsync(f.handle()) == 0;
#endif
}

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

} // namespace

CheckedSaveFile::CheckedSaveFile(const QString& path) : m_path(path) {}

CheckedSaveFile::~CheckedSaveFile() {
    cancelWriting();
}

bool CheckedSaveFile::open(OpenMode mode) {
    if (isOpen() || (mode & ReadOnly) || !(mode & WriteOnly)) return false;
    m_failed = false;
    m_written = 0;
    m_hash.reset();
    QFileInfo target(m_path);
    if (target.isSymLink()) target.setFile(target.symLinkTarget());
    if (target.isDir()) {
        setErrorString(QStringLiteral("%1 is a folder").arg(Native(m_path)));
        return false;
    }
    // A device or pipe (/dev/stdout, /dev/full) cannot be replaced: it is
    // written in place, and every write is still checked.
    m_direct = target.exists() && !target.isFile();
    if (m_direct) {
        m_tmp.setFileName(target.absoluteFilePath());
        if (!m_tmp.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            setErrorString(m_tmp.errorString());
            return false;
        }
        QIODevice::open(WriteOnly | Unbuffered);
        return true;
    }
    m_target = target.absoluteFilePath();
    // A hidden name in the target's folder, so that the rename stays on one
    // file system.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_tmp.setFileName(
            target.absolutePath() + QStringLiteral("/.") + target.fileName() + QLatin1Char('.') +
            QString::number(QRandomGenerator::global()->generate(), 36) + QStringLiteral(".tmp"));
        if (m_tmp.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered)) {
            QIODevice::open(WriteOnly | Unbuffered);
            return true;
        }
        if (m_tmp.error() != QFileDevice::OpenError || m_tmp.exists() == false) break;
    }
    setErrorString(m_tmp.errorString());
    return false;
}

qint64 CheckedSaveFile::writeData(const char* data, qint64 size) {
    if (m_failed) return -1;
    qint64 done = 0;
    while (done < size) {
        const qint64 n = m_tmp.write(data + done, size - done);
        if (n <= 0) {
            Fail(m_tmp.errorString());
            return -1;
        }
        done += n;
    }
    m_hash.addData(QByteArrayView(data, size));
    m_written += size;
    return size;
}

bool CheckedSaveFile::Fail(const QString& why) {
    m_failed = true;
    setErrorString(why.isEmpty() ? QStringLiteral("the file could not be written") : why);
    return false;
}

bool CheckedSaveFile::commit() {
    if (!isOpen()) return false;
    QIODevice::close();
    const auto failed = [this](const QString& why) {
        m_tmp.close();
        if (!m_direct) m_tmp.remove();
        return Fail(why);
    };
    if (m_failed) return failed(errorString());
    if (!m_tmp.flush()) return failed(m_tmp.errorString());
    if (m_direct) {
        m_tmp.close();
        return true;
    }
    if (!SyncToDisk(m_tmp)) return failed(m_tmp.errorString());
    if (m_tmp.size() != m_written)
        return failed(QStringLiteral("%1 holds %2 bytes where %3 were written")
                          .arg(Native(m_path))
                          .arg(m_tmp.size())
                          .arg(m_written));
    // Read back what the disk holds.
    if (!m_tmp.seek(0)) return failed(m_tmp.errorString());
    QCryptographicHash back(QCryptographicHash::Sha256);
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 n = m_tmp.read(chunk.data(), chunk.size());
        if (n < 0) return failed(m_tmp.errorString());
        if (n == 0) break;
        back.addData(QByteArrayView(chunk.constData(), n));
    }
    if (back.result() != m_hash.result())
        return failed(
            QStringLiteral("%1 does not read back as it was written").arg(Native(m_path)));
    m_tmp.close();
    if (!m_replace) {
        // An atomic rename that never replaces (renameat2 on Linux).
        if (QFile::rename(m_tmp.fileName(), m_target)) return true;
        const bool taken = QFileInfo::exists(m_target);
        m_tmp.remove();
        return Fail(
            taken ? QStringLiteral("%1 was written by someone else meanwhile").arg(Native(m_target))
                  : QStringLiteral("%1 cannot be put in place").arg(Native(m_target)));
    }
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(m_tmp.fileName().toStdU16String()),
                            std::filesystem::path(m_target.toStdU16String()), ec);
    if (ec) {
        m_tmp.remove();
        return Fail(QString::fromLocal8Bit(ec.message()));
    }
    return true;
}

void CheckedSaveFile::cancelWriting() {
    if (isOpen()) QIODevice::close();
    if (m_tmp.isOpen()) {
        m_tmp.close();
        if (!m_direct) m_tmp.remove();
    }
}

namespace checkedfile {

bool Read(const QString& path, QByteArray& bytes, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("cannot read %1: %2").arg(Native(path), f.errorString());
        return false;
    }
    bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) {
        if (error) *error = QStringLiteral("cannot read %1: %2").arg(Native(path), f.errorString());
        return false;
    }
    return true;
}

bool Write(const QString& path, const QByteArray& bytes, QString* error, bool replace) {
    if (QFileInfo(path).isFile() && QFileInfo(path).size() == bytes.size()) {
        QByteArray existing;
        if (Read(path, existing, nullptr) && existing == bytes) return true;
    }
    CheckedSaveFile out(path);
    out.setReplaceExisting(replace);
    if (!out.open() || out.write(bytes) != bytes.size() || !out.commit()) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(Native(path), out.errorString());
        return false;
    }
    return true;
}

} // namespace checkedfile
