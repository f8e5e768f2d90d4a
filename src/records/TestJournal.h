#pragma once

#include "records/Sample.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <cstdint>
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
// stops at the first frame that is cut short or fails its checksum, so a torn
// tail loses only itself and never leaves a gap.
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
};
// False (with the reason) when the bytes are not a journal at all.
bool Decode(const char* data, size_t size, Contents& out, QString* error = nullptr);

// What a journal left behind holds, and the record made from it.
struct Recovered {
    QString path;
    int samples = 0;       // samples after slot 0
    uint32_t lastTime = 0; // ticks of the last sample
    bool tornTail = false;
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
// makes it durable (fdatasync) at most once a second.
class TestJournal {
public:
    TestJournal();
    ~TestJournal(); // stops the writer; the file stays
    TestJournal(const TestJournal&) = delete;
    TestJournal& operator=(const TestJournal&) = delete;

    // Creates the file (and its folder) with the header frame.
    bool Open(const QString& path, const QByteArray& header, QString* error = nullptr);
    bool IsOpen() const { return m_fd >= 0; }
    QString Path() const { return m_path; }
    // A new header frame (fields read or stamped after the start).
    void SetHeader(const QByteArray& header);
    void Append(int slot, const Sample& s);
    // Waits until everything appended so far is written and durable.
    void Flush();
    // Stops the writer after writing what is pending; the file stays.
    void Close();
    // Closes and deletes the file: the test ended cleanly.
    void Remove();
    // Write failures so far (full disk): the test runs on, the journal is
    // incomplete.
    int Failures() const;

private:
    void Run();
    void WritePending(std::unique_lock<std::mutex>& lock);
    bool WriteAll(const QByteArray& bytes);

    QString m_path;
    int m_fd = -1;
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
};
