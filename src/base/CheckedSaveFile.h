#pragma once

#include <QCryptographicHash>
#include <QFile>
#include <QIODevice>
#include <QString>

// A file written beside its target and put in its place only when it is
// whole: every write landed, the data reached the disk, its size is right and
// it reads back as written. Until then an earlier file of the name stays as it
// was. A failure keeps the system's reason ("No space left on device").
//
// Not every save path reports a failed write: a buffered file that filled the
// disk can still commit a short file, so nothing here trusts a write that was
// not read back.
class CheckedSaveFile : public QIODevice {
public:
    explicit CheckedSaveFile(const QString& path);
    ~CheckedSaveFile() override;

    // Opens the temporary file beside the target; WriteOnly is the only mode.
    bool open(OpenMode mode = WriteOnly) override;
    // Flushes, syncs, checks and renames over the target. False with the
    // reason in errorString(); the target is then untouched and the
    // temporary file gone.
    bool commit();
    // Drops what was written; the target stays as it was.
    void cancelWriting();
    bool isSequential() const override { return true; }
    // With false, commit fails rather than replace a file that is there by
    // then (another process wrote the name meanwhile). True by default.
    void setReplaceExisting(bool replace) { m_replace = replace; }

    QString fileName() const { return m_path; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool Fail(const QString& why);

    QString m_path;
    QString m_target; // m_path with a symbolic link followed
    QFile m_tmp;
    bool m_direct = false;
    bool m_replace = true;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_written = 0;
    bool m_failed = false;
};

namespace checkedfile {

// Writes bytes to path through a CheckedSaveFile. A file already there with
// exactly these bytes is left untouched (and counts as success). With
// replace false, a file with other bytes is never replaced: false then.
bool Write(const QString& path, const QByteArray& bytes, QString* error = nullptr,
           bool replace = true);

// The whole file, or false with the reason.
bool Read(const QString& path, QByteArray& bytes, QString* error = nullptr);

} // namespace checkedfile
