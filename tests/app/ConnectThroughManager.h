#pragma once

// Searching and connecting as the user does it: through the connection
// manager's lists.
#include "app/MainFrame.h"
#include "app/ManageConnectionDlg.h"
#include "app/RivuletrixApp.h"

#include <QSignalSpy>
#include <QTreeWidget>

#include <memory>

// Opens the manager, waits for its search and returns it, open.
inline std::unique_ptr<CManageConnectionDlg> SearchAnalyzers(CRivuletrixApp& app,
                                                             CMainFrame& frame) {
    auto dlg = std::make_unique<CManageConnectionDlg>(app, true, &frame);
    QSignalSpy done(dlg.get(), &CManageConnectionDlg::SearchFinished);
    dlg->show();
    done.wait(20000);
    return dlg;
}

// Moves every analyzer found to the ready list and connects each.
inline void ConnectAllFound(CManageConnectionDlg& dlg) {
    while (dlg.UsbList()->topLevelItemCount() > 0) {
        dlg.UsbList()->setCurrentItem(dlg.UsbList()->topLevelItem(0));
        dlg.AddSelected();
    }
    for (int k = 0; k < dlg.ReadyList()->topLevelItemCount(); ++k) {
        dlg.ReadyList()->setCurrentItem(dlg.ReadyList()->topLevelItem(k));
        dlg.ConnectSelected();
    }
}
