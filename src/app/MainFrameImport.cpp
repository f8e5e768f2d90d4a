// The main window's Import command: the import sheet for the selected
// analyzer.
#include "MainFrame.h"

#include "base/Prompter.h"
#include "link/Device.h"
#include "transfer/ImportAndMergeSheet.h"

void CMainFrame::Import() {
    if (m_app.CurrentAnalyzer == -1) {
        ThePrompter().Message(QStringLiteral("Please connect a device for importing the records."),
                              Prompter::Icon::Warning);
        return;
    }
    CDevice* device = m_app.Device(m_app.CurrentAnalyzer);
    if (!device) return;
    delete m_importSheet;
    const int slot = m_app.CurrentAnalyzer;
    ImportContext context{m_app.Settings(), m_app.Records(), m_app.Templates(), device,
                          [this, slot, device] {
                              return m_app.CurrentAnalyzer == slot &&
                                     m_app.Device(slot) == device && !device->IsLost();
                          }};
    const bool allPages = device->DeviceModel != QLatin1String("PXR2K");
    m_importSheet =
        new CImportAndMergeSheet(QStringLiteral("Import Items"), context, allPages, this);
    WithPollPaused([this] { m_importSheet->exec(); });
}
