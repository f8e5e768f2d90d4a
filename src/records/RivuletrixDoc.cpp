#include "RivuletrixDoc.h"

#include "base/Prompter.h"

#include <QDateTime>

#include <new>

CRivuletrixDoc::CRivuletrixDoc(QObject* parent) : QObject(parent) {
    Clock = [] { return QDateTime::currentSecsSinceEpoch(); };
}

CRivuletrixDoc::~CRivuletrixDoc() = default;

bool CRivuletrixDoc::SetSample(int slot, const Sample& s) {
    if (slot < 0) return false;
    if (size_t(slot) >= m_samples.size()) {
        try {
            m_samples.resize(size_t(slot) + 1);
        } catch (const std::bad_alloc&) {
            ThePrompter().Message(QStringLiteral("Error - Out of Memory"), Prompter::Icon::Warning);
            return false;
        }
    }
    m_samples[size_t(slot)] = s;
    return true;
}

void CRivuletrixDoc::DropEmptyLastSample() {
    const int n = SampleCount();
    if (n > 1 && m_storedCount > 0 && ElapsedTicks(n - 1) == 0) --m_storedCount;
}

void CRivuletrixDoc::ClearSamples() {
    m_samples.clear();
    m_storedCount = 0;
    m_elapsed = 0;
    m_acquisitionStart = m_lastRefresh = 0;
    KeepEverySample = false;
    LiveWindowMinutes = 1; // the time axis of the next test starts at one minute
}

void CRivuletrixDoc::ResetRecord() {
    ClearSamples();
    m_refreshCount = 0;

    InstSerialNum.clear();
    InstVersion.clear();
    ChannelNo = 0;
    TdSerialNum.clear();
    TdVersion.clear();
    RepHeader1.clear();
    RepHeader2.clear();
    RepHeader3.clear();
    ControlNumber.clear();
    Operator.clear();
    Manufacture.clear();
    Model.clear();
    SerialNumber.clear();
    Location.clear();
    TestType = 'N';
    SetFlowRate = SetVolume = SetBasalFlowRate = SetPcaVolume = 0;
    SetFlowRateText.clear();
    SetVolumeText.clear();
    SetBasalFlowRateText.clear();
    SetPcaVolumeText.clear();
    SetPcaTime.clear();
    StartDate.clear();
    StartTime.clear();
    InstModel.clear();
    InstDesc.clear();
    InstManuf.clear();
    Comments.clear();

    SetRateIsZero = false;
    NewModel = true;
    TicksPerSecond = 1000;
    FlowOrOcclusion = true;
    BolusThresholdK = 2;
    TemplateName.clear();
    TemplateSteps = 0;
    TemplateCurrentStep = 0;

    const bool live = Run.live;
    Run = RunFlags{};
    Run.live = live;
    KeepEverySample = false;
    Modified = false;
}

QString CRivuletrixDoc::TestTypeName(char type) {
    switch (type) {
    case 'F':
        return QStringLiteral("Flow");
    case 'O':
        return QStringLiteral("Occlusion");
    case 'P':
        return QStringLiteral("PCA/Dual Flow");
    case 'D':
        return QStringLiteral("Dual Flow");
    default:
        return QStringLiteral("Unknown");
    }
}
