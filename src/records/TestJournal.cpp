#include "TestJournal.h"

#include "RivuletrixDoc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <chrono>
#include <cstring>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace journal {

namespace {

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

void Put32(QByteArray& out, uint32_t v) {
    const char b[4] = {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    out.append(b, 4);
}

uint32_t Get32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(u[0]) | uint32_t(u[1]) << 8 | uint32_t(u[2]) << 16 | uint32_t(u[3]) << 24;
}

QByteArray Frame(char type, const char* body, size_t size) {
    QByteArray payload;
    payload.reserve(qsizetype(size) + 1);
    payload.append(type);
    payload.append(body, qsizetype(size));
    QByteArray out;
    out.reserve(payload.size() + 8);
    Put32(out, uint32_t(payload.size()));
    Put32(out, Crc32(payload.constData(), size_t(payload.size())));
    out.append(payload);
    return out;
}

} // namespace

uint32_t Crc32(const char* data, size_t size) {
    const auto& table = CrcTable();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) c = table[(c ^ uint8_t(data[i])) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

QByteArray HeaderFrame(const QByteArray& header) {
    return Frame('H', header.constData(), size_t(header.size()));
}

QByteArray SamplesFrame(const JournalSample* samples, size_t count) {
    QByteArray body;
    body.reserve(qsizetype(count * kSampleBytes));
    for (size_t i = 0; i < count; ++i) {
        const JournalSample& j = samples[i];
        Put32(body, j.slot);
        Put32(body, j.sample.time);
        Put32(body, j.sample.volume);
        const uint16_t p = uint16_t(j.sample.pressure);
        body.append(char(p));
        body.append(char(p >> 8));
        body.append(j.sample.code);
    }
    return Frame('S', body.constData(), size_t(body.size()));
}

bool Decode(const char* data, size_t size, Contents& out, QString* error) {
    out = Contents();
    if (size < kMagicSize || std::memcmp(data, kMagic, kMagicSize) != 0) {
        if (error) *error = QStringLiteral("The file is not a test journal.");
        return false;
    }
    size_t pos = kMagicSize;
    uint32_t nextSlot = 1;
    while (pos + 8 <= size) {
        const uint32_t length = Get32(data + pos);
        const uint32_t crc = Get32(data + pos + 4);
        if (length == 0 || length > kMaxFrame || length > size - pos - 8) break;
        const char* payload = data + pos + 8;
        if (Crc32(payload, length) != crc) break;
        bool intact = true;
        if (payload[0] == 'H') {
            out.header = QByteArray(payload + 1, qsizetype(length - 1));
        } else if (payload[0] == 'S' && (length - 1) % kSampleBytes == 0) {
            for (const char* p = payload + 1; p < payload + length; p += kSampleBytes) {
                JournalSample j;
                j.slot = Get32(p);
                // Samples are journalled in slot order; anything else is
                // damage, and what follows it cannot be trusted.
                if (j.slot != nextSlot) {
                    intact = false;
                    break;
                }
                ++nextSlot;
                j.sample.time = Get32(p + 4);
                j.sample.volume = Get32(p + 8);
                j.sample.pressure =
                    int16_t(uint16_t(uint8_t(p[12]) | uint16_t(uint8_t(p[13])) << 8));
                j.sample.code = p[14];
                out.samples.push_back(j);
            }
        } else {
            intact = false;
        }
        if (!intact) break;
        pos += 8 + length;
    }
    out.tornTail = pos != size;
    return true;
}

bool ReadJournal(const QString& path, CRivuletrixDoc& doc, Recovered& info, QString* error) {
    info = Recovered();
    info.path = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    if (file.size() > CRivuletrixDoc::kMaxRecordFileBytes) {
        if (error) *error = QStringLiteral("The file is too large to be a test journal.");
        return false;
    }
    const QByteArray bytes = file.readAll();
    Contents c;
    if (!Decode(bytes.constData(), size_t(bytes.size()), c, error)) return false;
    if (c.header.isEmpty()) {
        if (error) *error = QStringLiteral("The journal holds no test header.");
        return false;
    }
    doc.ReadRecordBytes(c.header.constData(), size_t(c.header.size()));
    for (const JournalSample& j : c.samples)
        if (!doc.SetSample(int(j.slot), j.sample)) return false;
    info.samples = int(c.samples.size());
    info.lastTime = c.samples.empty() ? 0 : c.samples.back().sample.time;
    info.tornTail = c.tornTail;
    return true;
}

QString Folder(const QString& iniFolder) {
    return QDir(iniFolder).filePath(QStringLiteral("Journal"));
}

QStringList List(const QString& journalFolder) {
    const QDir dir(journalFolder);
    QStringList out;
    for (const QString& name :
         dir.entryList({QStringLiteral("*") + QLatin1String(kSuffix)}, QDir::Files, QDir::Name))
        out << dir.filePath(name);
    return out;
}

Claim::Claim(const QString& path) {
#ifdef Q_OS_WIN
    m_held = QFileInfo::exists(path);
#else
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    // A lock of its own open file: it conflicts with the writer's even in the
    // same process.
    m_held = m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
#endif
}

Claim::~Claim() {
#ifndef Q_OS_WIN
    if (m_fd >= 0) ::close(m_fd);
#endif
}

bool InUse(const QString& path) {
    return QFileInfo::exists(path) && !Claim(path).Held();
}

} // namespace journal

// ---- Writer ----

namespace {

#ifdef Q_OS_WIN
int OpenFile(const QString& path) {
    return _wopen(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                  _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long WriteSome(int fd, const char* p, size_t n) {
    return _write(fd, p, unsigned(n));
}
void SyncFile(int fd) {
    _commit(fd);
}
void CloseFile(int fd) {
    _close(fd);
}
#else
int OpenFile(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return fd;
    // Held until the file is closed or the process dies: recovery leaves a
    // journal alone while its test runs, and no second writer truncates it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
long WriteSome(int fd, const char* p, size_t n) {
    long r;
    do r = long(::write(fd, p, n));
    while (r < 0 && errno == EINTR);
    return r;
}
void SyncFile(int fd) {
#if defined(Q_OS_LINUX)
    ::fdatasync(fd);
#else
    ::fsync(fd);
#endif
}
void CloseFile(int fd) {
    ::close(fd);
}
#endif

} // namespace

TestJournal::TestJournal() = default;

TestJournal::~TestJournal() {
    Close();
}

bool TestJournal::Open(const QString& path, const QByteArray& header, QString* error) {
    Close();
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = OpenFile(path);
    if (fd < 0) {
        if (error) *error = QStringLiteral("Cannot create the test journal %1.").arg(path);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_failures = 0;
    m_stop = false;
    m_pending.clear();
    m_pendingHeader.clear();
    QByteArray first(journal::kMagic, qsizetype(journal::kMagicSize));
    first += journal::HeaderFrame(header);
    if (!WriteAll(first)) {
        CloseFile(m_fd);
        m_fd = -1;
        QFile::remove(path);
        if (error) *error = QStringLiteral("Cannot write the test journal %1.").arg(path);
        return false;
    }
    SyncFile(m_fd);
    m_thread = std::thread([this] { Run(); });
    return true;
}

void TestJournal::SetHeader(const QByteArray& header) {
    if (!IsOpen()) return;
    std::lock_guard lock(m_mutex);
    m_pendingHeader = header;
}

void TestJournal::Append(int slot, const Sample& s) {
    if (!IsOpen() || slot < 0) return;
    std::lock_guard lock(m_mutex);
    m_pending.push_back({uint32_t(slot), s});
}

void TestJournal::Flush() {
    if (!IsOpen()) return;
    std::unique_lock lock(m_mutex);
    const uint64_t generation = ++m_requested;
    m_flushRequested = true;
    m_wake.notify_one();
    m_done.wait(lock, [&] { return m_completed >= generation; });
}

void TestJournal::Close() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    if (m_fd >= 0) {
        CloseFile(m_fd);
        m_fd = -1;
    }
}

void TestJournal::Remove() {
    Close();
    if (!m_path.isEmpty()) QFile::remove(m_path);
    m_path.clear();
}

int TestJournal::Failures() const {
    std::lock_guard lock(m_mutex);
    return m_failures;
}

bool TestJournal::WriteAll(const QByteArray& bytes) {
    const char* p = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const long n = WriteSome(m_fd, p, left);
        if (n <= 0) return false;
        p += n;
        left -= size_t(n);
    }
    return true;
}

void TestJournal::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        // Samples pile up for a second; only a flush or the stop wakes early.
        m_wake.wait_for(lock, std::chrono::seconds(1), [&] { return m_stop || m_flushRequested; });
        const bool stop = m_stop;
        const uint64_t generation = m_requested;
        m_flushRequested = false;
        std::vector<journal::JournalSample> samples;
        samples.swap(m_pending);
        QByteArray header;
        header.swap(m_pendingHeader);
        lock.unlock();

        QByteArray bytes;
        if (!header.isEmpty()) bytes += journal::HeaderFrame(header);
        if (!samples.empty()) bytes += journal::SamplesFrame(samples.data(), samples.size());
        bool ok = true;
        if (!bytes.isEmpty()) {
            ok = WriteAll(bytes);
            // At most once a second: the wait above paces this loop.
            SyncFile(m_fd);
        }

        lock.lock();
        if (!ok) ++m_failures;
        m_completed = generation;
        m_done.notify_all();
        if (stop) return;
    }
}
