#pragma once

#include <QByteArray>
#include <QObject>

#include <mutex>
#include <vector>

class CRivuletrixDoc;

// Hands one channel's measurement lines from the I/O thread to its document,
// on the document's thread. The lines wait under the inbox's mutex; the I/O
// thread posts one data-free Drain per batch, and Drain runs AddSample.
class ChannelInbox : public QObject {
    Q_OBJECT
public:
    explicit ChannelInbox(CRivuletrixDoc* doc) : m_doc(doc) {}

    CRivuletrixDoc* Doc() const {
        std::lock_guard lock(m_mutex);
        return m_doc;
    }
    // I/O thread.
    void Push(std::vector<QByteArray>& lines);
    // The document is going away: nothing more is delivered.
    void Detach();

    Q_INVOKABLE void Drain();

private:
    mutable std::mutex m_mutex;
    CRivuletrixDoc* m_doc;
    std::vector<QByteArray> m_lines;
    std::vector<QByteArray> m_draining; // document thread only
    bool m_posted = false;
};
