// Writing the record file: one section of H lines and D lines, with the N and
// E lines of template runs.
#include "RivuletrixDoc.h"

#include "app/CodePage.h"

#include <QSaveFile>

#include <charconv>
#include <cstring>

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
    QByteArray Take() { return std::move(m_out); }

private:
    QByteArray m_out;
};

} // namespace

QByteArray CRivuletrixDoc::FormatSection(bool nLine, int endStep) const {
    // About 30 bytes per sample line.
    LineBuffer out(1024 + m_samples.size() * 32);
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
    long long line = 1;
    // Slot 0 always carries ':' whatever it holds; a live record's slot 0 is
    // empty, so every live record starts with D1,:,0,0,0.
    const auto sampleLine = [&](const Sample& s, char code) {
        out.Char('D');
        out.Int(line++);
        out.Char(',');
        out.Char(code);
        out.Char(',');
        out.Int(int32_t(s.time));
        out.Char(',');
        out.Int(int32_t(s.volume));
        out.Char(',');
        out.Int(s.pressure);
        out.Eol();
    };
    if (!m_samples.empty()) sampleLine(m_samples[0], ':');
    for (size_t i = from; i < m_samples.size(); ++i) sampleLine(m_samples[i], m_samples[i].code);

    if (endStep > 0) {
        out.Char('E');
        out.Int(endStep);
        out.Eol();
    }
    return out.Take();
}

bool CRivuletrixDoc::WriteRecordFile(const QString& path, QString* error) const {
    QSaveFile file(path);
    const QByteArray bytes = FormatSection();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error) *error = file.errorString();
        return false;
    }
    return true;
}
