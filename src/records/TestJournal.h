#pragma once

#include "records/Sample.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CRivuletrixDoc;

// The journal of one live test: every stored sample also goes to a file on
// local disk, so a crash, a power cut or a killed process loses at most the
// last second of a test.
//
// File: the magic "RXJRNL1\n", then frames [payload length u32 LE][CRC-32 of
// the payload u32 LE][payload]. A payload is 'H' + the record's header lines
// (the newest header frame wins) or 'S' + samples of 15 bytes each (slot u32,
// time u32, volume u32, pressure i16, all LE, then the status code). Reading
// passes over a frame that fails its checksum (or whose slots do not follow
// on) to the next intact one, so damage loses only the frames it hit, and
// says what it lost; a frame cut short at the end is a torn tail.
namespace journal {

constexpr char kMagic[] = "RXJRNL1\n";
constexpr size_t kMagicSize = sizeof(kMagic) - 1;
constexpr size_t kSampleBytes = 15;
// Header lines are short; anything bigger is damage.
constexpr uint32_t kMaxFrame = 64u << 20;
constexpr char kSuffix[] = ".rxj";

struct JournalSample {
    uint32_t slot = 0;
    Sample sample;
};

uint32_t Crc32(const char* data, size_t size);
QByteArray HeaderFrame(const QByteArray& header);
QByteArray SamplesFrame(const JournalSample* samples, size_t count);

struct Contents {
    QByteArray header;
    std::vector<JournalSample> samples;
    bool tornTail = false; // bytes after the last intact frame were dropped
    // Damage passed over: unreadable bytes not explained by a torn tail, in
    // how many stretches, and the sample slots missing before the last one.
    size_t damagedBytes = 0;
    int damagedStretches = 0;
    uint32_t missingSamples = 0;
};
// False (with the reason) when the bytes are not a journal at all.
bool Decode(const char* data, size_t size, Contents& out, QString* error = nullptr);

// What a journal left behind holds, and the record made from it.
struct Recovered {
    QString path;
    int samples = 0;       // samples after slot 0
    uint32_t lastTime = 0; // ticks of the last sample
    bool tornTail = false;
    qint64 damagedBytes = 0; // see Contents
    int missingSamples = 0;
};
// Reads a journal file into doc (header fields and every intact sample).
bool ReadJournal(const QString& path, CRivuletrixDoc& doc, Recovered& info,
                 QString* error = nullptr);

// The folder of journals beside the settings, and the journals in a folder.
QString Folder(const QString& iniFolder);
QStringList List(const QString& journalFolder);

// True while a running test writes the journal, in this process or another
// (a second program window, a command-line run): its writer holds a lock on
// the file, which the system drops when the writer dies, however it dies.
bool InUse(const QString& path);

// Holds a journal's lock while it is recovered or deleted, so a running test
// or a second recovery never loses it under the holder's feet.
class Claim {
public:
    explicit Claim(const QString& path);
    ~Claim();
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    // False when someone else holds the lock (or the file cannot be opened).
    bool Held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};

} // namespace journal

// Writes one journal off the calling thread. Append is cheap and may be called
// from any thread; a writer thread frames what has piled up, writes it and
// makes it durable (fdatasync; FlushFileBuffers on Windows) at most once a second.
//
// A journal that cannot be written (its folder cannot be made, the disk is
// full) does not stop the test: what is owed to the file is kept and written
// again every second, so a freed disk resumes the journal with no gap. The
// trouble is said through the problem handler at once, and again when it ends.
class TestJournal {
public:
    TestJournal();
    ~TestJournal(); // stops the writer; the file stays
    TestJournal(const TestJournal&) = delete;
    TestJournal& operator=(const TestJournal&) = delete;

    // Called on the writer thread with the reason when writing starts to fail,
    // and with an empty text when the journal is whole again. Set before Open.
    void SetProblemHandler(std::function<void(const QString&)> handler) {
        m_onProblem = std::move(handler);
    }

    // Creates the file (and its folder) with the header frame. False with the
    // reason when that failed for now: the journal is active all the same and
    // keeps trying.
    bool Open(const QString& path, const QByteArray& header, QString* error = nullptr);
    bool IsOpen() const { return m_active; }
    QString Path() const { return m_path; }
    // A new header frame (fields read or stamped after the start).
    void SetHeader(const QByteArray& header);
    void Append(int slot, const Sample& s);
    // Waits until everything appended so far was tried once: written and
    // durable, unless Problem() says why not.
    void Flush();
    // Stops the writer after trying once more to write what is owed; the file
    // stays.
    void Close();
    // Closes and deletes the file: the test ended cleanly.
    void Remove();
    // Failed write attempts so far.
    int Failures() const;
    // Why the journal is behind the test; empty while it is whole.
    QString Problem() const;

private:
    void Run();
    // Writes what is owed to the file (opening it first if need be); the
    // reason when some of it stays owed.
    QString WriteOwed();
    // Empty when what was written is on the disk; otherwise why not.
    QString MakeDurable();

    QString m_path;
    bool m_active = false;
    int m_fd = -1;           // writer thread only while it runs
    QByteArray m_owed;       // bytes not yet in the file; writer thread only
    bool m_unsynced = false; // a sync failed: the next round tries again
    std::function<void(const QString&)> m_onProblem;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_done;
    std::vector<journal::JournalSample> m_pending;
    QByteArray m_pendingHeader;
    bool m_stop = false;
    bool m_flushRequested = false;
    uint64_t m_requested = 0; // flush generations
    uint64_t m_completed = 0;
    int m_failures = 0;
    QString m_problem;
};
