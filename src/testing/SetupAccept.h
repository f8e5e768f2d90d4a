#pragma once

#include "SetupForm.h"
#include "SetupSheetRunner.h"

class AppSettings;
class CDevice;
class RunHost;
class TemplateStore;

namespace setupsheet {

// What OK reaches beyond the form.
struct SetupContext {
    const AppSettings* settings = nullptr; // report headers
    TemplateStore* templates = nullptr;    // the Template page's selection
    RunHost* app = nullptr;                // takes the device as current analyzer
    // The application's, where one exists.
    static SetupContext FromApp();
};

// OK on a page: the checks in their order, the template load, then the
// parameter block into device.Setup[channelIndex] and the device as current
// analyzer. Shows nothing; a failure comes back with its message and field,
// and nothing has been written.
SetupProblem AcceptSetup(SetupPage page, const SetupForm& form, CDevice& device, int channelIndex,
                         const SetupContext& context);

// A setup sheet without a screen: OK on a page filled in beforehand. For the
// run controller's tests and scripted runs; a failed check shows its message
// and counts as Cancel, as a sheet the user then closes would.
class PresetSetupSheetRunner : public SetupSheetRunner {
public:
    PresetSetupSheetRunner(SetupPage page, const SetupForm& form,
                           SetupContext context = SetupContext::FromApp())
        : m_page(page), m_form(form), m_context(context) {}

    bool RunSetupSheet(CDevice& device, int channelIndex, const QString& title,
                       bool allPages) override;

    SetupPage page() const { return m_page; }
    SetupForm& form() { return m_form; }
    // What the last call was given.
    QString lastTitle;
    bool lastAllPages = false;
    int calls = 0;

private:
    SetupPage m_page;
    SetupForm m_form;
    SetupContext m_context;
};

} // namespace setupsheet
