#pragma once

#include <QString>

class CDevice;

// Opens the test setup sheet for one channel. On OK the sheet has validated
// the page shown and left the parameter block with the device object
// (CDevice::Setup[channelIndex]) and made it the current analyzer. The run
// controller asks through this interface, so its tests fill the block
// without a screen.
class SetupSheetRunner {
public:
    virtual ~SetupSheetRunner() = default;
    // title: "Channel %i Test Setup - " + analyzer name; allPages: offer the
    // PCA / Dual Flow and Template pages (not for a PXR2K). True for OK.
    virtual bool RunSetupSheet(CDevice& device, int channelIndex, const QString& title,
                               bool allPages) = 0;
};
