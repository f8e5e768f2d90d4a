#include "SetupAccept.h"

#include "base/Prompter.h"
#include "link/Device.h"
#include "store/TemplateStore.h"
#include "testing/RunHost.h"

namespace setupsheet {

SetupContext SetupContext::FromApp() {
    SetupContext c;
    if (RunHost* app = RunHost::Current()) {
        c.settings = &app->Settings();
        c.templates = &app->Templates();
        c.app = app;
    }
    return c;
}

SetupProblem AcceptSetup(SetupPage page, const SetupForm& form, CDevice& device, int channelIndex,
                         const SetupContext& context) {
    SetupProblem problem = CheckForOk(page, device.DeviceModel, form);
    if (problem.failed()) return problem;

    if (page == SetupPage::Template) {
        // The name kept is the one the store lists, which is how the run finds
        // the template again.
        Template t;
        if (!context.templates || !context.templates->ReadTemplateFile(form.templ.fileName, t))
            return {SetupField::TemplateList, msg::kFileNotFound};
    }
    if (channelIndex < 0 || channelIndex >= 4) return {};

    QString headers[3];
    if (context.settings) ReadReportHeaders(*context.settings, headers);
    StoreSetup(page, form, headers, device.Setup[channelIndex]);

    if (context.app && device.Slot >= 1 && device.Slot <= RunHost::kSlots &&
        context.app->CurrentAnalyzer != device.Slot) {
        context.app->CurrentAnalyzer = device.Slot;
        context.app->NotifyAnalyzersChanged();
    }
    return {};
}

bool PresetSetupSheetRunner::RunSetupSheet(CDevice& device, int channelIndex, const QString& title,
                                           bool allPages) {
    ++calls;
    lastTitle = title;
    lastAllPages = allPages;
    if (!allPages && (m_page == SetupPage::Pca || m_page == SetupPage::Template)) return false;
    const SetupProblem problem = AcceptSetup(m_page, m_form, device, channelIndex, m_context);
    if (problem.failed()) {
        ThePrompter().Message(problem.message);
        return false;
    }
    return true;
}

} // namespace setupsheet
