#include "SetupRules.h"

#include <QLocale>

namespace setupsheet {

QString TrimDecimals(const QString& text) {
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point < 0 || text.size() - point - 1 <= 2) return text;
    return text.left(point + 3);
}

StopOptions ClickStopOption(StopOption option, bool checked) {
    StopOptions s;
    if (!checked) return s;
    switch (option) {
    case StopOption::Volume:
        s.volume = true;
        s.stopVolumeEnabled = true;
        break;
    case StopOption::Time:
        s.time = true;
        s.stopTimeEnabled = true;
        break;
    case StopOption::First:
        s.first = true;
        s.stopVolumeEnabled = s.stopTimeEnabled = true;
        break;
    case StopOption::Both:
        s.both = true;
        s.stopVolumeEnabled = s.stopTimeEnabled = true;
        break;
    }
    s.copyTotalVolume = s.stopVolumeEnabled;
    return s;
}

StopOptions StopOptionsOf(bool volume, bool time, bool first, bool both) {
    StopOptions s;
    s.volume = volume;
    s.time = time;
    s.first = first;
    s.both = both;
    s.stopVolumeEnabled = volume || first || both;
    s.stopTimeEnabled = time || first || both;
    return s;
}

std::optional<bool> AutoStartForBasalRate(const QString& basalRateText) {
    bool ok = false;
    const double rate = QLocale::c().toDouble(basalRateText.trimmed(), &ok);
    if (!ok) return std::nullopt;
    return rate != 0;
}

} // namespace setupsheet
