// Reading record files (".p8d", and ".p7d" of the older model) on bytes.
#include "RivuletrixDoc.h"

#include "ByteParse.h"
#include "base/CodePage.h"

#include <QDateTime>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr size_t kMaxLine = 119;

QString Text(std::string_view s) {
    return codepage::ToUnicode(s.data(), qsizetype(s.size()));
}

// Calls emit(line) for each line of at most 119 bytes: bytes up to LF, CR
// dropped, a longer line cut and its rest read as the next line. A last line
// without LF is not a line. emit returns false to stop.
template <typename Emit> void ForEachLine(const char* data, size_t size, Emit&& emit) {
    const char* p = data;
    const char* end = data + size;
    std::string slow;
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* lineEnd = lf ? lf : end;
        size_t n = size_t(lineEnd - p);
        const bool trailingCr = n > 0 && p[n - 1] == '\r';
        const size_t body = trailingCr ? n - 1 : n;
        if (lf && body <= kMaxLine && !std::memchr(p, '\r', body)) {
            if (!emit(std::string_view(p, body))) return;
            p = lf + 1;
            continue;
        }
        // Rare: a long line, stray CRs, or the unterminated tail.
        slow.clear();
        for (const char* q = p; q < lineEnd; ++q) {
            if (*q == '\r') continue;
            slow.push_back(*q);
            if (slow.size() == kMaxLine) {
                if (!emit(std::string_view(slow))) return;
                slow.clear();
            }
        }
        if (!lf) return; // the unterminated tail is dropped
        if (!emit(std::string_view(slow))) return;
        p = lf + 1;
    }
}

} // namespace

void CRivuletrixDoc::ReadHeaderLine(const char* data, size_t len) {
    const std::string_view line(data, len);
    bytes::Tokenizer tok(line);
    std::string_view first;
    if (!tok.Next(first) || first.empty() || first[0] != 'H') return;
    const int field = bytes::AtoL(first.substr(1));
    std::string_view a, b, c;

    switch (field) {
    case 1:
        if (tok.Next(a)) InstSerialNum = Text(a);
        if (tok.Next(b)) InstVersion = Text(b);
        break;
    case 2:
        if (!tok.Next(a)) break;
        if (a.size() >= 2) {
            // Older form: the channel digit directly followed by the serial.
            ChannelNo = bytes::AtoL(a.substr(0, 1)) - 1;
            TdSerialNum = Text(a.substr(1));
            if (tok.Next(b)) TdVersion = Text(b);
        } else {
            ChannelNo = bytes::AtoL(a) - 1;
            if (tok.Next(b)) TdSerialNum = Text(b);
            if (tok.Next(c)) TdVersion = Text(c);
        }
        break;
    case 7: {
        // The operator runs to the first '<', commas included.
        std::string_view rest = tok.Rest();
        size_t i = 0;
        while (i < rest.size() && rest[i] == ',') ++i;
        rest = rest.substr(i);
        if (rest.empty()) break;
        const size_t lt = rest.find('<');
        Operator = Text(lt == std::string_view::npos ? rest : rest.substr(0, lt));
        break;
    }
    case 12:
        if (tok.Next(a)) {
            TestType = a[0];
            if (TestType == 'P' || TestType == 'D') FlowOrOcclusion = false;
        }
        break;
    case 13:
        if (tok.Next(a)) {
            SetFlowRateText = Text(a);
            SetFlowRate = bytes::AtoF(a);
            SetRateIsZero = SetFlowRate == 0;
        }
        break;
    case 14:
        if (tok.Next(a)) {
            SetVolumeText = Text(a);
            SetVolume = bytes::AtoF(a);
        }
        break;
    case 15:
        if (tok.Next(a)) {
            SetBasalFlowRateText = Text(a);
            SetBasalFlowRate = bytes::AtoF(a);
            if (TestType == 'P') {
                if (SetBasalFlowRate == 0) SetBasalFlowRate = SetFlowRate;
                if (SetFlowRate == 0) SetFlowRate = SetBasalFlowRate;
            }
            SetRateIsZero = SetBasalFlowRate == 0;
        }
        break;
    case 16:
        if (tok.Next(a)) {
            SetPcaVolumeText = Text(a);
            SetPcaVolume = bytes::AtoF(a);
        }
        break;
    case 18:
        if (tok.Next(a)) StartDate = Text(a);
        if (tok.Next(b)) StartTime = Text(b);
        if (Run.running) Run.dataReceived = true;
        break;
    default: {
        QString* target = nullptr;
        switch (field) {
        case 3:
            target = &RepHeader1;
            break;
        case 4:
            target = &RepHeader2;
            break;
        case 5:
            target = &RepHeader3;
            break;
        case 6:
            target = &ControlNumber;
            break;
        case 8:
            target = &Manufacture;
            break;
        case 9:
            target = &Model;
            break;
        case 10:
            target = &SerialNumber;
            break;
        case 11:
            target = &Location;
            break;
        case 17:
            target = &SetPcaTime;
            break;
        case 19:
            target = &InstModel;
            break;
        case 20:
            target = &InstDesc;
            break;
        case 21:
            target = &InstManuf;
            break;
        case 22:
            target = &Comments;
            break;
        default:
            break;
        }
        if (target && tok.Next(a)) *target = Text(a);
        break;
    }
    }
}

void CRivuletrixDoc::ReadSampleLine(const char* data, size_t len, size_t slotLimit) {
    // Each field is read where it lies, in one pass over the line.
    bytes::Tokenizer tok(std::string_view(data, len));
    if (!tok.Start()) return;
    tok.Take(); // the 'D'
    const int32_t slot = tok.Number();
    if (slot < 0) return;
    // A slot far beyond what the file could hold is corrupt; growing the
    // array to it could exhaust memory.
    if (size_t(slot) > slotLimit) return;
    // The slot starts empty; a line that ends early keeps what it had.
    Sample s;
    const auto finish = [&](bool complete) {
        if (!SetSample(slot, s)) return; // out of memory: nothing counted
        if (complete) m_storedCount = slot;
    };
    if (!tok.Start()) return finish(false);
    s.code = tok.Take();
    // The time may follow the code directly, or be the next field.
    if (tok.FieldDone() && !tok.Start()) return finish(false);
    s.time = uint32_t(tok.Number());
    if (!tok.Start()) return finish(false);
    s.volume = uint32_t(tok.Number());
    if (!tok.Start()) return finish(false);
    s.pressure = int16_t(tok.Number());
    finish(true);
}

void CRivuletrixDoc::ReadRecordBytes(const char* data, size_t size, bool keepSamples) {
    const int step = StepToShow;
    ResetRecord();
    StepToShow = step;
    const size_t slotLimit = size / 2 + 1024;
    // Sections are counted, not taken by their E numbers: a run that passed
    // a bolus slot numbers its sections by slot (E2, E3 ... for steps 1, 2).
    int section = 0;

    ForEachLine(data, size, [&](std::string_view line) {
        if (line.empty()) return true;
        switch (line[0]) {
        case 'D':
            if (keepSamples) ReadSampleLine(line.data(), line.size(), slotLimit);
            return true;
        case 'H':
            ReadHeaderLine(line.data(), line.size());
            return true;
        case 'N': {
            // "N<steps> <name>"
            size_t i = 1;
            while (i < line.size() && line[i] >= '0' && line[i] <= '9') ++i;
            TemplateSteps = bytes::AtoL(line.substr(1, i - 1));
            TemplateName = i < line.size() ? Text(line.substr(i + 1)) : QString();
            return true;
        }
        case 'E':
            return ++section != StepToShow;
        default:
            return true;
        }
    });

    if (TemplateSteps > 0) {
        // The N line of such a run counts slots too: the steps are the
        // sections the file holds (a closing section without samples after
        // the sixth slot is not one).
        int sections = size > 0 && data[0] == 'E' ? 1 : 0;
        for (const char* p = data;
             (p = static_cast<const char*>(std::memchr(p, '\n', size_t(data + size - p))));) {
            ++p;
            if (p < data + size && *p == 'E') ++sections;
        }
        if (sections > 0) TemplateSteps = std::min(TemplateSteps, sections);
    }

    const bool oldModel = InstModel.startsWith(QLatin1String("PXR-7"));
    NewModel = !oldModel;
    TicksPerSecond = oldModel ? 256 : 1000;
}

bool CRivuletrixDoc::ReadRecordFile(const QString& path, QString* error, bool keepSamples) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = file.errorString();
        return false;
    }
    if (file.size() > kMaxRecordFileBytes) {
        if (error) *error = QStringLiteral("The file is too large to be a record file.");
        return false;
    }
    // Read, not mapped: a file on a network share that shrinks while mapped
    // would take the program down.
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error) *error = file.errorString();
        return false;
    }
    ReadRecordBytes(bytes.constData(), size_t(bytes.size()), keepSamples);
    m_pathName = path;
    return true;
}
