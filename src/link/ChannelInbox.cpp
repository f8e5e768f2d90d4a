#include "ChannelInbox.h"

#include "records/RivuletrixDoc.h"

void ChannelInbox::Push(std::vector<QByteArray>& lines) {
    std::lock_guard lock(m_mutex);
    if (!m_doc) {
        lines.clear();
        return;
    }
    if (m_lines.empty()) {
        m_lines.swap(lines);
    } else {
        for (QByteArray& l : lines) m_lines.push_back(std::move(l));
        lines.clear();
    }
    if (!m_posted) {
        m_posted = true;
        QMetaObject::invokeMethod(this, "Drain", Qt::QueuedConnection);
    }
}

void ChannelInbox::Detach() {
    std::lock_guard lock(m_mutex);
    m_doc = nullptr;
    m_lines.clear();
}

void ChannelInbox::Drain() {
    CRivuletrixDoc* doc;
    {
        std::lock_guard lock(m_mutex);
        m_posted = false;
        doc = m_doc;
        m_draining.swap(m_lines);
    }
    if (doc)
        for (const QByteArray& line : m_draining) doc->AddSample(line);
    m_draining.clear();
}
