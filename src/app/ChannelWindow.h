#pragma once

#include <QMdiSubWindow>
#include <QPointer>

class CRivuletrixDoc;

// A child window of the main frame: the channel window of an analyzer
// channel, or the window of a record opened from disk. It owns the document.
class ChannelWindow : public QMdiSubWindow {
    Q_OBJECT
public:
    // A live channel window of (slot, channel), both 1-based.
    ChannelWindow(int slot, int channel, const QString& analyzerName, QWidget* parent = nullptr);
    // A record window.
    explicit ChannelWindow(CRivuletrixDoc* record, QWidget* parent = nullptr);
    ~ChannelWindow() override;

    CRivuletrixDoc* Document() const { return m_doc; }
    int Slot() const { return m_slot; }
    int Channel() const { return m_channel; }

    // Closes without asking (the analyzer was disconnected).
    void ForceClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Build();

    CRivuletrixDoc* m_doc;
    int m_slot = 0;
    int m_channel = 0;
    bool m_forced = false;
};
