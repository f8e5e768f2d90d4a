#include "TestJournal.h"

#include "RivuletrixDoc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN
namespace {
// The writer's lock is one byte far past anything written: Windows locks are
// mandatory, so a lock on the data would stop recovery from reading it.
constexpr DWORD kLockOffsetHigh = 0x100;

HANDLE OpenShared(const QString& path, DWORD access, DWORD disposition) {
    return CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                       access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool LockWriter(HANDLE h) {
    OVERLAPPED at = {};
    at.OffsetHigh = kLockOffsetHigh;
    return LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}
} // namespace
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

namespace {

// The samples of an intact 'S' payload, or false when its slots do not run on
// one by one from at least nextSlot: such a frame is damage even with a good
// checksum.
bool TakeSamples(const char* payload, uint32_t length, uint32_t nextSlot,
                 std::vector<JournalSample>& out) {
    if ((length - 1) % kSampleBytes != 0 || length == 1) return false;
    std::vector<JournalSample> taken;
    for (const char* p = payload + 1; p < payload + length; p += kSampleBytes) {
        JournalSample j;
        j.slot = Get32(p);
        if (taken.empty() ? j.slot < nextSlot : j.slot != taken.back().slot + 1) return false;
        j.sample.time = Get32(p + 4);
        j.sample.volume = Get32(p + 8);
        j.sample.pressure = int16_t(uint16_t(uint8_t(p[12]) | uint16_t(uint8_t(p[13])) << 8));
        j.sample.code = p[14];
        taken.push_back(j);
    }
    out.insert(out.end(), taken.begin(), taken.end());
    return true;
}

// True when the unread tail is a frame cut short by the end of the file: what
// a killed writer leaves (a torn tail). Anything else that does not read is
// damage.
bool CutShort(const char* tail, size_t size) {
    if (size < 8) return true;
    const uint32_t length = Get32(tail);
    return length > 0 && length <= kMaxFrame && length > size - 8;
}

} // namespace

bool Decode(const char* data, size_t size, Contents& out, QString* error) {
    out = Contents();
    if (size < kMagicSize || std::memcmp(data, kMagic, kMagicSize) != 0) {
        if (error) *error = QStringLiteral("The file is not a test journal.");
        return false;
    }
    size_t pos = kMagicSize;
    size_t damageStart = 0; // where the unreadable bytes being passed over began
    bool inDamage = false;
    uint32_t nextSlot = 1;
    while (pos + 8 <= size) {
        const uint32_t length = Get32(data + pos);
        const uint32_t crc = Get32(data + pos + 4);
        const char* payload = data + pos + 8;
        bool intact = length > 0 && length <= kMaxFrame && length <= size - pos - 8 &&
                      Crc32(payload, length) == crc;
        if (intact) {
            if (payload[0] == 'H')
                out.header = QByteArray(payload + 1, qsizetype(length - 1));
            else
                intact = payload[0] == 'S' && TakeSamples(payload, length, nextSlot, out.samples);
        }
        if (!intact) {
            // A damaged frame: look for the next intact one byte by byte. Its
            // length and checksum make a false match all but impossible.
            if (!inDamage) damageStart = pos;
            inDamage = true;
            ++pos;
            continue;
        }
        if (inDamage) {
            out.damagedBytes += pos - damageStart;
            ++out.damagedStretches;
            inDamage = false;
        }
        if (payload[0] == 'S') {
            const uint32_t first = Get32(payload + 1);
            out.missingSamples += first - nextSlot;
            nextSlot = out.samples.back().slot + 1;
        }
        pos += 8 + length;
    }
    const size_t tail = inDamage ? size - damageStart : size - pos;
    out.tornTail = tail > 0;
    if (tail > 0 && !CutShort(data + size - tail, tail)) {
        out.damagedBytes += tail;
        ++out.damagedStretches;
    }
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
    info.damagedBytes = qint64(c.damagedBytes);
    info.missingSamples = int(c.missingSamples);
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
    // A lock through a handle of its own: it conflicts with the writer's even
    // in the same process. The handle goes with the descriptor.
    const HANDLE h = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return;
    m_fd = _open_osfhandle(intptr_t(h), _O_RDONLY);
    if (m_fd < 0) {
        CloseHandle(h);
        return;
    }
    m_held = LockWriter(h);
#else
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    // A lock of its own open file: it conflicts with the writer's even in the
    // same process.
    m_held = m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
#endif
}

Claim::~Claim() {
#ifdef Q_OS_WIN
    if (m_fd >= 0) _close(m_fd);
#else
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
QString SystemError() {
    return qt_error_string(int(GetLastError()));
}
QString DiskFull() {
    return qt_error_string(ERROR_DISK_FULL);
}
HANDLE Handle(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}
int OpenFile(const QString& path) {
    const HANDLE h = OpenShared(path, GENERIC_WRITE, OPEN_ALWAYS);
    if (h == INVALID_HANDLE_VALUE) return -1;
    // Held until the file is closed or the process dies: recovery leaves a
    // journal alone while its test runs, and no second writer truncates it.
    if (!LockWriter(h) || !SetEndOfFile(h)) {
        const DWORD why = GetLastError();
        CloseHandle(h);
        SetLastError(why);
        return -1;
    }
    const int fd = _open_osfhandle(intptr_t(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) CloseHandle(h);
    return fd;
}
long WriteSome(int fd, const char* p, size_t n) {
    DWORD done = 0;
    if (!WriteFile(Handle(fd), p, DWORD(std::min<size_t>(n, 1u << 30)), &done, nullptr)) return -1;
    return long(done);
}
bool SyncFile(int fd) {
    return FlushFileBuffers(Handle(fd)) != 0;
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
QString SystemError() {
    return qt_error_string(errno);
}
QString DiskFull() {
    return qt_error_string(ENOSPC);
}
long WriteSome(int fd, const char* p, size_t n) {
    long r;
    do r = long(::write(fd, p, n));
    while (r < 0 && errno == EINTR);
    return r;
}
bool SyncFile(int fd) {
    int r;
#if defined(Q_OS_LINUX)
    do r = ::fdatasync(fd);
#else
    do r = ::fsync(fd);
#endif
    while (r != 0 && errno == EINTR);
    return r == 0;
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
    m_path = path;
    m_failures = 0;
    m_problem.clear();
    m_stop = false;
    m_pending.clear();
    m_pendingHeader.clear();
    m_owed = QByteArray(journal::kMagic, qsizetype(journal::kMagicSize));
    m_owed += journal::HeaderFrame(header);
    QString problem = WriteOwed();
    m_unsynced = false;
    if (problem.isEmpty()) problem = MakeDurable();
    m_problem = problem;
    if (!problem.isEmpty()) {
        ++m_failures;
        if (error) *error = problem;
        if (m_onProblem) m_onProblem(problem);
    }
    m_active = true;
    m_thread = std::thread([this] { Run(); });
    return problem.isEmpty();
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
    m_active = false;
    if (m_fd >= 0) {
        CloseFile(m_fd);
        m_fd = -1;
    }
    m_owed.clear();
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

QString TestJournal::Problem() const {
    std::lock_guard lock(m_mutex);
    return m_problem;
}

QString TestJournal::WriteOwed() {
    const QString shown = QDir::toNativeSeparators(m_path);
    if (m_fd < 0) {
        const QString folder = QFileInfo(m_path).absolutePath();
        if (!QDir().mkpath(folder))
            return QStringLiteral("The journal folder %1 cannot be created.")
                .arg(QDir::toNativeSeparators(folder));
        m_fd = OpenFile(m_path);
        if (m_fd < 0)
            return QStringLiteral("The test journal %1 cannot be created: %2")
                .arg(shown, SystemError());
    }
    qsizetype done = 0;
    QString problem;
    while (done < m_owed.size()) {
        const long n = WriteSome(m_fd, m_owed.constData() + done, size_t(m_owed.size() - done));
        if (n <= 0) {
            problem = QStringLiteral("The test journal %1 cannot be written: %2")
                          .arg(shown, n < 0 ? SystemError() : DiskFull());
            break;
        }
        done += n;
    }
    // A frame cut by the failure is finished by the next attempt: the file
    // only ever grows by the bytes owed, in order.
    m_owed.remove(0, done);
    return problem;
}

QString TestJournal::MakeDurable() {
    if (m_fd < 0) return {};
    m_unsynced = !SyncFile(m_fd);
    if (!m_unsynced) return {};
    return QStringLiteral("The test journal %1 cannot be made durable: %2")
        .arg(QDir::toNativeSeparators(m_path), SystemError());
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
        const QString before = m_problem;
        lock.unlock();

        if (!header.isEmpty()) m_owed += journal::HeaderFrame(header);
        if (!samples.empty()) m_owed += journal::SamplesFrame(samples.data(), samples.size());
        QString problem;
        if (!m_owed.isEmpty() || m_unsynced) {
            problem = WriteOwed();
            // At most once a second: the wait above paces this loop. What
            // part was written is made durable even when the rest failed.
            const QString synced = MakeDurable();
            if (problem.isEmpty()) problem = synced;
        }
        lock.lock();
        if (!problem.isEmpty()) ++m_failures;
        // Said when the trouble starts and when it ends; the first reason
        // stands while it lasts. Set before the handler runs, so that whoever
        // it tells reads the new state.
        if (problem.isEmpty() != before.isEmpty()) {
            m_problem = problem;
            if (m_onProblem) m_onProblem(problem);
        }
        m_completed = generation;
        m_done.notify_all();
        if (stop) return;
    }
}
