#pragma once

#include <QString>

#include <optional>

// How the fields of the setup pages react while the user edits them.
namespace setupsheet {

// At most two decimals: "12.345" becomes "12.34". Other texts are returned
// unchanged.
QString TrimDecimals(const QString& text);

// The four stop options of the Flow and PCA / Dual Flow pages: at most one is
// ticked, and it decides which limit fields can be edited.
enum class StopOption { Volume, Time, First, Both };

struct StopOptions {
    bool volume = false, time = false, first = false, both = false;
    bool stopVolumeEnabled = false; // the stop volume field
    bool stopTimeEnabled = false;   // hours and minutes
    // The stop volume field takes the total volume (the page decides whether
    // it shows it).
    bool copyTotalVolume = false;

    bool operator==(const StopOptions&) const = default;
};

// The options after the user ticked (checked) or unticked one of them.
// Unticking any clears all four.
StopOptions ClickStopOption(StopOption option, bool checked);
// The options as the stored ticks say (a new page: none).
StopOptions StopOptionsOf(bool volume, bool time, bool first, bool both);

// The Flow page shows the copied total volume only once a control number has
// been entered.
inline bool FlowShowsCopiedVolume(const QString& controlNumber) {
    return !controlNumber.isEmpty();
}

// PCA / Dual Flow AutoStart follows the basal rate: no basal rate, no
// AutoStart. Empty (or a text that is no number yet, such as ".") leaves the
// tick as it is.
std::optional<bool> AutoStartForBasalRate(const QString& basalRateText);

} // namespace setupsheet
