// Writing the record file: one section of H lines and D lines, with the N and
// E lines of template runs.
#include "RivuletrixDoc.h"

#include "base/CheckedSaveFile.h"
#include "base/CodePage.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <utility>

namespace {

class LineBuffer {
public:
    // Where full chunks go; without one, everything stays in the buffer.
    using Sink = std::function<bool(const char*, qsizetype)>;

    explicit LineBuffer(size_t reserve, Sink sink = {}) : m_sink(std::move(sink)) {
        m_out.reserve(qsizetype(reserve));
    }

    void Text(const char* s) { m_out.append(s, qsizetype(std::strlen(s))); }
    void Text(const QString& s) { m_out.append(codepage::FromUnicode(s)); }
    void Char(char c) { m_out.append(c); }
    void Int(long long v) {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v);
        m_out.append(buf, r.ptr - buf);
    }
    // "%-7.2f": two decimals, left-aligned in at least seven columns.
    void Fixed72(double v) {
        char buf[400];
        const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2);
        const qsizetype n = r.ptr - buf;
        m_out.append(buf, n);
        for (qsizetype k = n; k < 7; ++k) m_out.append(' ');
    }
    void Eol() { m_out.append("\r\n", 2); }
    // Ends a header or template-name line begun at lineStart. The reader
    // cuts a line at 119 bytes and reads the rest as a line of its own, and
    // a CR or LF in a text would end the line early: either way text such
    // as "E1" or "D5,..." could be read as an end or sample line and make
    // the samples unreadable. So breaks become blanks and the line is cut.
    void EndTextLine(qsizetype lineStart) {
        constexpr qsizetype kReaderLineLimit = 119;
        char* p = m_out.data() + lineStart;
        for (char* e = m_out.data() + m_out.size(); p < e; ++p)
            if (*p == '\r' || *p == '\n') *p = ' ';
        if (m_out.size() - lineStart > kReaderLineLimit) m_out.resize(lineStart + kReaderLineLimit);
        Eol();
    }
    qsizetype Size() const { return m_out.size(); }
    // "D%i,%c,%li,%li,%li" lines numbered from 1, written straight into the
    // buffer: this is the bulk of a record. With a sink the lines go out in
    // chunks, so that a long record is saved through a small buffer that
    // stays in cache instead of a fresh one the size of the file.
    template <typename SampleOf> void Samples(size_t lines, SampleOf&& sampleOf) {
        constexpr size_t kMaxLine = 48;
        constexpr size_t kChunkLines = 16384;
        for (size_t first = 0; first < lines; first += kChunkLines) {
            const size_t last = std::min(lines, first + kChunkLines);
            const qsizetype start = m_out.size();
            m_out.resize(start + qsizetype((last - first) * kMaxLine));
            char* p = m_out.data() + start;
            for (size_t k = first; k < last; ++k) {
                const auto [s, code] = sampleOf(k);
                char* const end = p + kMaxLine;
                *p++ = 'D';
                p = std::to_chars(p, end, k + 1).ptr;
                *p++ = ',';
                *p++ = code;
                *p++ = ',';
                p = std::to_chars(p, end, int32_t(s.time)).ptr;
                *p++ = ',';
                p = std::to_chars(p, end, int32_t(s.volume)).ptr;
                *p++ = ',';
                p = std::to_chars(p, end, int(s.pressure)).ptr;
                *p++ = '\r';
                *p++ = '\n';
            }
            m_out.resize(p - m_out.constData());
            if (m_sink && !Flush()) return;
        }
    }
    // Hands what is buffered to the sink; false once the sink refused.
    bool Flush() {
        if (m_sink && m_ok && !m_out.isEmpty()) m_ok = m_sink(m_out.constData(), m_out.size());
        if (m_sink) m_out.resize(0); // keeps the capacity for the next chunk
        return m_ok;
    }
    QByteArray Take() { return std::move(m_out); }

private:
    Sink m_sink;
    QByteArray m_out;
    bool m_ok = true;
};

} // namespace

static void FormatInto(CRivuletrixDoc& d, LineBuffer& out, bool nLine, int endStep);

QByteArray CRivuletrixDoc::FormatSection(bool nLine, int endStep) {
    LineBuffer out(2048);
    FormatInto(*this, out, nLine, endStep);
    return out.Take();
}

bool CRivuletrixDoc::WriteRecordFile(const QString& path, QString* error) {
    // Checked: a full disk must fail the save with its reason, never leave a
    // short record in place of a whole one.
    CheckedSaveFile file(path);
    bool opened = file.open(QIODevice::WriteOnly);
    if (opened) {
        LineBuffer out(1 << 20, [&file](const char* data, qsizetype size) {
            return file.write(data, size) == size;
        });
        FormatInto(*this, out, false, 0);
        if (out.Flush() && file.commit()) return true;
    }
    if (error) *error = file.errorString();
    return false;
}

// Writes the section's lines through out. A free function over the public
// fields, so that the buffer type stays private to this file.
static void FormatInto(CRivuletrixDoc& d, LineBuffer& out, bool nLine, int endStep) {
    const SampleArray& samples = d.Samples();
    qsizetype line = 0;
    const auto begin = [&](const char* prefix) {
        line = out.Size();
        out.Text(prefix);
    };
    const auto end = [&] { out.EndTextLine(line); };
    if (nLine) {
        begin("N");
        out.Int(d.TemplateSteps);
        out.Char(' ');
        out.Text(d.TemplateName);
        end();
    }
    const auto text = [&](const char* prefix, const QString& value) {
        begin(prefix);
        out.Text(value);
        end();
    };
    const auto number = [&](const char* prefix, double value) {
        begin(prefix);
        out.Fixed72(value);
        end();
    };
    begin("H1,");
    out.Text(d.InstSerialNum);
    out.Char(',');
    out.Text(d.InstVersion);
    end();
    begin("H2,");
    out.Int(d.ChannelNo + 1);
    out.Char(',');
    out.Text(d.TdSerialNum);
    out.Char(',');
    out.Text(d.TdVersion);
    end();
    text("H3,", d.RepHeader1);
    text("H4,", d.RepHeader2);
    text("H5,", d.RepHeader3);
    text("H6,", d.ControlNumber);
    text("H7,", d.Operator);
    text("H8,", d.Manufacture);
    text("H9,", d.Model);
    text("H10,", d.SerialNumber);
    text("H11,", d.Location);
    begin("H12,");
    if (d.TestType == 'F' || d.TestType == 'O' || d.TestType == 'P')
        out.Text(CRivuletrixDoc::TestTypeName(d.TestType));
    end();
    number("H13,", d.SetFlowRate);
    d.SetRateIsZero = d.SetFlowRate == 0;
    number("H14,", d.SetVolume);
    number("H15,", d.SetBasalFlowRate);
    number("H16,", d.SetPcaVolume);
    text("H17,", d.SetPcaTime);
    begin("H18,");
    out.Text(d.StartDate);
    out.Char(',');
    out.Text(d.StartTime);
    end();
    text("H19,", d.InstModel);
    text("H20,", d.InstDesc);
    text("H21,", d.InstManuf);
    text("H22,", d.Comments);

    size_t from = 1;
    if (endStep > 0)
        while (from < samples.size() && samples[from].time == 0) ++from;
    // Slot 0 always carries ':' whatever it holds; a live record's slot 0 is
    // empty, so every live record starts with D1,:,0,0,0.
    if (!samples.empty()) {
        const size_t lines = 1 + (samples.size() - from);
        out.Samples(lines, [&](size_t k) -> std::pair<const Sample&, char> {
            if (k == 0) return {samples[0], ':'};
            const Sample& s = samples[from + k - 1];
            return {s, s.code};
        });
    }

    if (endStep > 0) {
        out.Char('E');
        out.Int(endStep);
        out.Eol();
    }
}
