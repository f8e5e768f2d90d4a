#include "ReplyDispatcher.h"

#include "base/CodePage.h"

#include <QIODevice>

#include <cstring>
#include <utility>

namespace {

// A reply line without its CR; positions past the end read as NUL.
struct Line {
    const char* p;
    size_t n;
    char at(size_t i) const { return i < n ? p[i] : '\0'; }
    bool startsWith(const char* s) const {
        const size_t k = std::strlen(s);
        return n >= k && std::memcmp(p, s, k) == 0;
    }
    // Digit fields count as (code mod 48); a missing character counts 0.
    int digit(size_t i) const { return uchar(at(i)) % 48; }
    size_t find(char c, size_t from) const {
        for (size_t i = from; i < n; ++i)
            if (p[i] == c) return i;
        return n;
    }
};

// Text from pos up to delim (or the end of the line), keeping at most limit
// bytes. Returns the position of the delimiter (or n).
size_t Field(const Line& l, size_t pos, char delim, size_t limit, QString& out) {
    if (pos >= l.n) {
        out.clear();
        return l.n;
    }
    const size_t end = l.find(delim, pos);
    out = codepage::ToUnicode(l.p + pos, qsizetype(std::min(end - pos, limit)));
    return end;
}

constexpr size_t kNoLimit = size_t(-1);

} // namespace

void ReplyDispatcher::AbortAll() {
    for (AutoResetEvent* e :
         {&StatusSignal, &BatterySignal, &ParamsSignal, &RecordCountSignal, &TemplateCountSignal,
          &TemplateEndSignal, &SerialSignal, &RecordEndSignal, &NotesEndSignal, &OkSignal,
          &HeadSignal, &PollSignal, &LogSignal, &ErasedSignal})
        e->Abort();
}

void ReplyDispatcher::RearmAll() {
    for (AutoResetEvent* e :
         {&StatusSignal, &BatterySignal, &ParamsSignal, &RecordCountSignal, &TemplateCountSignal,
          &TemplateEndSignal, &SerialSignal, &RecordEndSignal, &NotesEndSignal, &OkSignal,
          &HeadSignal, &PollSignal, &LogSignal, &ErasedSignal})
        e->Rearm();
}

void ReplyDispatcher::BeginRecordDownload(QIODevice* file) {
    std::lock_guard lock(m_mutex);
    m_recordFile = file;
    m_headerSeen = false;
    m_nLineWritten = false;
    m_sectionCount = 0;
    m_lastActivity = Clock::now();
}

void ReplyDispatcher::EndRecordDownload() {
    std::lock_guard lock(m_mutex);
    m_recordFile = nullptr;
}

void ReplyDispatcher::BeginNotes(QIODevice* file) {
    std::lock_guard lock(m_mutex);
    m_notesFile = file;
    m_lastActivity = Clock::now();
}

void ReplyDispatcher::EndNotes() {
    std::lock_guard lock(m_mutex);
    m_notesFile = nullptr;
}

void ReplyDispatcher::BoundDownload(Download kind, qint64 bytes) {
    std::lock_guard lock(m_mutex);
    m_bound[int(kind)] = Bound{bytes, true, false};
}

bool ReplyDispatcher::FinishDownload(Download kind) {
    std::lock_guard lock(m_mutex);
    Bound& b = m_bound[int(kind)];
    b.active = false;
    return std::exchange(b.passed, false);
}

ReplyDispatcher::Take ReplyDispatcher::Consume(Download kind, size_t size) {
    Bound& b = m_bound[int(kind)];
    if (!b.active) return Take::Keep;
    if (b.passed) return Take::Drop;
    if (qint64(size) > b.left) {
        b.passed = true;
        return Take::JustPassed;
    }
    b.left -= qint64(size);
    return Take::Keep;
}

ReplyDispatcher::Clock::time_point ReplyDispatcher::LastDownloadActivity() const {
    std::lock_guard lock(m_mutex);
    return m_lastActivity;
}

void ReplyDispatcher::TouchDownloadActivity() {
    std::lock_guard lock(m_mutex);
    m_lastActivity = Clock::now();
}

QString ReplyDispatcher::ChannelStatus(int channelIndex) const {
    if (channelIndex < 0 || channelIndex > 3) return {};
    std::lock_guard lock(m_mutex);
    QString text;
    for (int g = 0; g < 3; ++g) {
        const char c = status[4 * g + channelIndex];
        if (c == 0) break; // a short reply ends the text, as it ends the fields
        text += QLatin1Char(c);
    }
    return text;
}

void ReplyDispatcher::DispatchReply(const char* frame, size_t size) {
    if (size > 0 && frame[0] == '\n') {
        ++frame;
        --size;
    }
    // The line ends at the first CR after position 0.
    size_t len = size;
    for (size_t i = 1; i < size; ++i) {
        if (frame[i] == '\r') {
            len = i;
            break;
        }
    }
    const Line l{frame, len};
    if (len == 0) {
        framesIgnored.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    framesDispatched.fetch_add(1, std::memory_order_relaxed);

    const char first = frame[0];
    if (first >= '1' && first <= '4') {
        // The channel digit and 21 characters; a short line goes without its
        // CR, so that the document sees its real length.
        if (m_sink) m_sink->DeliverLine(first - '1', frame, std::min<size_t>(len, 22));
        return;
    }
    if (first == 'D' || first == 'H') {
        RecordLine(frame, len);
        return;
    }
    if (first != '[') {
        framesIgnored.fetch_add(1, std::memory_order_relaxed);
        return;
    }

    if (l.startsWith("[OK")) {
        OkSignal.Set();
    } else if (l.startsWith("[RECS")) {
        {
            std::lock_guard lock(m_mutex);
            recordCount = l.digit(6) * 100 + l.digit(7) * 10 + l.digit(8);
        }
        RecordCountSignal.Set();
    } else if (l.startsWith("[HEAD")) {
        {
            std::lock_guard lock(m_mutex);
            size_t p = Field(l, 6, ',', kNoLimit, head[0]);
            p = Field(l, p + 1, ',', kNoLimit, head[1]);
            Field(l, p + 1, ']', kNoLimit, head[2]);
        }
        HeadSignal.Set();
    } else if (l.startsWith("[POLL")) {
        PollSignal.Set();
    } else if (l.startsWith("[STAT")) {
        {
            std::lock_guard lock(m_mutex);
            for (size_t i = 0; i < 12; ++i) status[i] = l.at(6 + i);
        }
        statusReplies.fetch_add(1, std::memory_order_relaxed);
        StatusSignal.Set();
    } else if (l.startsWith("[BATSTATUS")) {
        {
            std::lock_guard lock(m_mutex);
            battery = l.at(11);
        }
        BatterySignal.Set();
    } else if (l.at(1) == 'P' && l.at(2) >= '1' && l.at(2) <= '5') {
        ParameterReply(frame, len);
    } else if (l.n >= 11 && std::memcmp(frame + 6, "COUNT", 5) == 0) {
        int count = 0;
        for (size_t i = 12; i < 15 && i < l.n && l.p[i] != ']'; ++i)
            count = count * 10 + l.digit(i);
        {
            std::lock_guard lock(m_mutex);
            templateCount = count;
        }
        TemplateCountSignal.Set();
    } else if (l.startsWith("[TMPLT,")) {
        Take take;
        {
            std::lock_guard lock(m_mutex);
            m_lastActivity = Clock::now();
            take = Consume(Download::Template, len);
        }
        if (take == Take::Keep)
            TemplateLine(frame, len);
        else if (take == Take::JustPassed)
            TemplateEndSignal.Set();
    } else if (l.startsWith("[TMPLTEND")) {
        {
            std::lock_guard lock(m_mutex);
            templateBuffer.stepCount = templateLines;
        }
        TemplateEndSignal.Set();
    } else if (l.startsWith("[SN")) {
        SerialReply(frame, len);
    } else if (l.startsWith("[END")) {
        RecordEnd();
    } else if (l.startsWith("[UN,")) {
        bool passed = false;
        {
            std::lock_guard lock(m_mutex);
            m_lastActivity = Clock::now();
            if (m_notesFile) {
                const size_t end = l.find(']', 4);
                const Take take = Consume(Download::Notes, end - 4 + 1);
                if (take == Take::Keep) {
                    m_notesFile->write(frame + 4, qint64(end - 4));
                    m_notesFile->write("\n", 1);
                } else {
                    m_notesFile = nullptr;
                    passed = take == Take::JustPassed;
                }
            }
        }
        if (passed) NotesEndSignal.Set();
    } else if (l.startsWith("[UNEND")) {
        NotesEndSignal.Set();
    } else if (l.startsWith("[LOG")) {
        LogSignal.Set();
    } else if (l.startsWith("[ERASED")) {
        ErasedSignal.Set();
    } else {
        framesIgnored.fetch_add(1, std::memory_order_relaxed);
    }
}

void ReplyDispatcher::RecordLine(const char* line, size_t size) {
    {
        std::lock_guard lock(m_mutex);
        // Counted as download activity even without a file: the late lines of
        // a download that gave up are waited out before the next one.
        m_lastActivity = Clock::now();
        if (!m_recordFile) return;
        const Take take = Consume(Download::Record, size + 2);
        if (take != Take::Keep) {
            m_recordFile = nullptr;
            if (take == Take::Drop) return;
        } else {
            // One N line per download, even when data lines come before the
            // header.
            if (!m_headerSeen && !m_nLineWritten) {
                m_recordFile->write("N0\r\n", 4);
                m_nLineWritten = true;
            }
            if (m_headerSeen && size >= 3 && std::memcmp(line, "H1,", 3) == 0) {
                const char e[4] = {'E', char('1' + m_sectionCount), '\r', '\n'};
                m_recordFile->write(e, 4);
                ++m_sectionCount;
            }
            m_recordFile->write(line, qint64(size));
            m_recordFile->write("\r\n", 2);
            if (line[0] == 'H') m_headerSeen = true;
            m_recordLinesTotal.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
    RecordEndSignal.Set();
}

void ReplyDispatcher::RecordEnd() {
    {
        std::lock_guard lock(m_mutex);
        if (m_recordFile) {
            m_recordFile->write("E0", 2);
            if (m_sectionCount != 0) {
                const qint64 end = m_recordFile->pos();
                if (m_recordFile->seek(0)) {
                    const char n[2] = {'N', char('1' + m_sectionCount)};
                    m_recordFile->write(n, 2);
                    m_recordFile->seek(end);
                }
            }
        }
        m_sectionCount = 0;
        m_headerSeen = false;
    }
    RecordEndSignal.Set();
}

void ReplyDispatcher::ParameterReply(const char* line, size_t size) {
    const Line l{line, size};
    bool complete = false;
    {
        std::lock_guard lock(m_mutex);
        switch (l.at(2)) {
        case '1':
            Field(l, 4, ']', kNoLimit, params.p1);
            break;
        case '2':
            Field(l, 4, ']', kNoLimit, params.p2);
            break;
        case '3':
            Field(l, 4, ']', kNoLimit, params.p3);
            break;
        case '5':
            Field(l, 4, ']', kNoLimit, params.p5);
            break;
        case '4': {
            switch (l.at(4)) {
            case 'p':
                params.pressureUnit = 4;
                break;
            case 'm':
                params.pressureUnit = 2;
                break;
            case 'k':
                params.pressureUnit = 3;
                break;
            default:
                break;
            }
            // Number up to '%', kept to four digits.
            const size_t pct = l.find('%', 6);
            int number = 0;
            for (size_t i = 6; i < pct && i < 10; ++i) number = number * 10 + l.digit(i);
            params.percent = number;
            if (pct >= l.n) {
                params.p4.clear();
                break;
            }
            const size_t comma = Field(l, pct + 2, ',', kNoLimit, params.p4);
            if (comma >= l.n) break;
            params.twoDigit = l.digit(comma + 1) * 10 + l.digit(comma + 2);
            switch (l.at(comma + 4)) {
            case 'V':
                params.modeA = 0;
                break;
            case 'T':
                params.modeA = 1;
                break;
            case 'F':
                params.modeA = 2;
                break;
            case 'B':
                params.modeA = 3;
                break;
            default:
                break;
            }
            switch (l.at(comma + 6)) {
            case 'N':
                params.modeB = 0;
                break;
            case 'O':
                params.modeB = 1;
                break;
            case 'S':
                params.modeB = 2;
                break;
            case 'V':
                params.modeB = 3;
                break;
            default:
                break;
            }
            break;
        }
        default:
            break;
        }
        if (++paramCount >= 5) {
            paramCount = 0;
            complete = true;
        }
    }
    if (complete) ParamsSignal.Set();
}

void ReplyDispatcher::SerialReply(const char* line, size_t size) {
    const Line l{line, size};
    const char unit = l.at(3);
    {
        std::lock_guard lock(m_mutex);
        if (unit == '0') {
            size_t p = Field(l, 5, ',', 10, snSerial);
            if (p < l.n) {
                p = Field(l, p + 1, ',', 12, snFirmware);
            } else {
                snFirmware.clear();
            }
            if (p < l.n)
                Field(l, p + 1 + 5, ']', 10, snThird);
            else
                snThird.clear();
        } else if (unit >= '1' && unit <= '4') {
            const int k = unit - '1';
            const size_t p = Field(l, 5, ',', 10, tdSerial[k]);
            if (p < l.n)
                Field(l, p + 1, ']', 12, tdFirmware[k]);
            else
                tdFirmware[k].clear();
        }
        // Other unit digits carry nothing this program keeps.
    }
    SerialSignal.Set();
}

void ReplyDispatcher::TemplateLine(const char* line, size_t size) {
    const Line l{line, size};
    const char k = l.at(7);
    std::lock_guard lock(m_mutex);
    m_lastActivity = Clock::now();
    if (k == '0') {
        const QString serial = templateBuffer.instSerialNumber;
        templateBuffer = Template{};
        templateBuffer.instSerialNumber = serial;
        const size_t p = Field(l, 9, ',', 30, templateBuffer.name);
        if (p < l.n) Field(l, p + 1, ']', 30, templateBuffer.deviceComments);
        return;
    }
    if (k < '1' || k > '6') return;
    ++templateLines;
    TemplateStep& s = templateBuffer.steps[k - '1'];

    size_t p = 9;
    if (l.startsWith("[TMPLT,") && size >= 12) {
        const char* w = line + 9;
        if (std::memcmp(w, "FLO", 3) == 0) {
            s.type = 1;
            p += 5;
        } else if (std::memcmp(w, "OCC", 3) == 0) {
            s.type = 2;
            p += 5;
        } else if (std::memcmp(w, "PCA", 3) == 0) {
            s.type = 3;
            p += 4;
        } else if (std::memcmp(w, "BOL", 3) == 0) {
            s.type = 5;
            p += 6;
        } else {
            return; // unknown step: the slot stays as the header cleared it
        }
    } else {
        return;
    }
    // Skips the delimiter that ends a field (or the rest of an overlong one).
    auto skipTo = [&](char delim) {
        p = l.find(delim, p);
        if (p < l.n) ++p;
    };
    // Up to 7 characters up to ','; '.' skipped; the digits in hundredths.
    auto number = [&]() {
        long long v = 0;
        for (int i = 0; i < 7 && p < l.n && l.p[p] != ','; ++i, ++p)
            if (l.p[p] != '.') v = v * 10 + uchar(l.p[p]) % 48;
        skipTo(',');
        return double(v) / 100.0;
    };
    s.rate = number();
    s.volume = number();
    const char u0 = l.at(p), u1 = l.at(p + 1);
    if (u0 == 'M' && u1 == 'L') {
        s.unit = 5;
        p += 3;
    } else if (u0 == 'm' && u1 == 'm') {
        s.unit = 2;
        s.volume *= 100; // mmHg values come without decimals
        p += 5;
    } else if (u0 == 'p' && u1 == 's') {
        s.unit = 4;
        p += 4;
    } else if (u0 == 'k' && u1 == 'P') {
        s.unit = 3;
        p += 4;
    } else if (u0 == 'm' && u1 == 'l') {
        p += 6;
    } else {
        skipTo(',');
    }
    // Short fields: a blank counts nothing, any other character its low bits.
    auto small = [&](char delim) {
        int v = 0;
        for (int i = 0; i < 2 && p < l.n && l.p[p] != delim; ++i, ++p)
            if (l.p[p] != ' ') v = v * 10 + (uchar(l.p[p]) & 0x0F);
        skipTo(delim);
        return v;
    };
    s.hours = small(',');
    s.minutes = small(',');
    s.tolerance = small('%');
}
