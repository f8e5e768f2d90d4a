// Writing the record file: one section of H lines and D lines, with the N and
// E lines of template runs.
#include "RivuletrixDoc.h"

#include "base/CodePage.h"

#include <QSaveFile>

#include <charconv>
#include <cstring>
#include <utility>

namespace {

class LineBuffer {
public:
    explicit LineBuffer(size_t reserve) { m_out.reserve(qsizetype(reserve)); }

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
    // "D%i,%c,%li,%li,%li" lines numbered from 1, written straight into the
    // buffer: this is the bulk of a record.
    template <typename SampleOf> void Samples(size_t lines, SampleOf&& sampleOf) {
        constexpr size_t kMaxLine = 48;
        const qsizetype start = m_out.size();
        m_out.resize(start + qsizetype(lines * kMaxLine));
        char* p = m_out.data() + start;
        for (size_t k = 0; k < lines; ++k) {
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
    }
    QByteArray Take() { return std::move(m_out); }

private:
    QByteArray m_out;
};

} // namespace

QByteArray CRivuletrixDoc::FormatSection(bool nLine, int endStep) {
    LineBuffer out(2048);
    if (nLine) {
        out.Char('N');
        out.Int(TemplateSteps);
        out.Char(' ');
        out.Text(TemplateName);
        out.Eol();
    }
    const auto text = [&](const char* prefix, const QString& value) {
        out.Text(prefix);
        out.Text(value);
        out.Eol();
    };
    const auto number = [&](const char* prefix, double value) {
        out.Text(prefix);
        out.Fixed72(value);
        out.Eol();
    };
    out.Text("H1,");
    out.Text(InstSerialNum);
    out.Char(',');
    out.Text(InstVersion);
    out.Eol();
    out.Text("H2,");
    out.Int(ChannelNo + 1);
    out.Char(',');
    out.Text(TdSerialNum);
    out.Char(',');
    out.Text(TdVersion);
    out.Eol();
    text("H3,", RepHeader1);
    text("H4,", RepHeader2);
    text("H5,", RepHeader3);
    text("H6,", ControlNumber);
    text("H7,", Operator);
    text("H8,", Manufacture);
    text("H9,", Model);
    text("H10,", SerialNumber);
    text("H11,", Location);
    out.Text("H12,");
    if (TestType == 'F' || TestType == 'O' || TestType == 'P') out.Text(TestTypeName(TestType));
    out.Eol();
    number("H13,", SetFlowRate);
    SetRateIsZero = SetFlowRate == 0;
    number("H14,", SetVolume);
    number("H15,", SetBasalFlowRate);
    number("H16,", SetPcaVolume);
    text("H17,", SetPcaTime);
    out.Text("H18,");
    out.Text(StartDate);
    out.Char(',');
    out.Text(StartTime);
    out.Eol();
    text("H19,", InstModel);
    text("H20,", InstDesc);
    text("H21,", InstManuf);
    text("H22,", Comments);

    size_t from = 1;
    if (endStep > 0)
        while (from < m_samples.size() && m_samples[from].time == 0) ++from;
    // Slot 0 always carries ':' whatever it holds; a live record's slot 0 is
    // empty, so every live record starts with D1,:,0,0,0.
    if (!m_samples.empty()) {
        const size_t lines = 1 + (m_samples.size() - from);
        out.Samples(lines, [&](size_t k) -> std::pair<const Sample&, char> {
            if (k == 0) return {m_samples[0], ':'};
            const Sample& s = m_samples[from + k - 1];
            return {s, s.code};
        });
    }

    if (endStep > 0) {
        out.Char('E');
        out.Int(endStep);
        out.Eol();
    }
    return out.Take();
}

bool CRivuletrixDoc::WriteRecordFile(const QString& path, QString* error) {
    QSaveFile file(path);
    const QByteArray bytes = FormatSection();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}
