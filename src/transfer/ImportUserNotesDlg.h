#pragma once

#include "transfer/ImportContext.h"

#include <QWidget>

#include <functional>

class QPushButton;

// "Import User Notes": saves the analyzer's user notes to a ".p8u" file the
// user names.
class CImportUserNotesDlg : public QWidget {
    Q_OBJECT
public:
    explicit CImportUserNotesDlg(const ImportContext& context, QWidget* parent = nullptr);

    QPushButton* ImportButton() const { return m_import; }
    QPushButton* CloseButton() const { return m_close; }

Q_SIGNALS:
    void CloseRequested();

private:
    void OnImport();

    const ImportContext& m_context;
    QPushButton* m_import;
    QPushButton* m_close;
};
