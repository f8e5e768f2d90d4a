#include "DeviceInfoDlg.h"

#include "base/Prompter.h"
#include "link/Device.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>

struct CDeviceInfoDlg::Answers {
    bool paramsOk = false;
    AnalyzerParameters params;
    SerialNumbers analyzer;
    SerialNumbers channels[4];
    bool present[4] = {};
};

namespace {
const QString kNotConnected = QStringLiteral("Not Connected");
}

CDeviceInfoDlg::CDeviceInfoDlg(CDevice& device, QWidget* parent) : QDialog(parent) {
    setWindowTitle(device.Name);
    auto* grid = new QGridLayout(this);
    int row = 0;
    const auto field = [&](const QString& name, int column = 0) {
        auto* edit = new QLineEdit(this);
        edit->setReadOnly(true);
        edit->setObjectName(name);
        edit->setMinimumWidth(160);
        grid->addWidget(new QLabel(name.trimmed(), this), row, column * 2);
        grid->addWidget(edit, row, column * 2 + 1);
        m_fields.insert(name, edit);
    };
    field(QStringLiteral("Manufacturer"));
    ++row;
    field(QStringLiteral("Model"));
    ++row;
    field(QStringLiteral("Model Name"));
    ++row;
    field(QStringLiteral("Serial Number"));
    field(QStringLiteral("Firmware Version"), 1);
    ++row;
    for (int c = 1; c <= 4; ++c, ++row) {
        field(QStringLiteral("Channel %1 S/N ").arg(c));
        field(QStringLiteral("Channel %1 Firmware Version").arg(c), 1);
    }
    auto* ok = new QPushButton(QStringLiteral("Ok"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    grid->addWidget(ok, row, 3, Qt::AlignRight);

    auto answers = std::make_shared<Answers>();
    for (int c = 0; c < 4; ++c) answers->present[c] = device.Channels[c] != 0;
    CDevice* d = &device;
    std::atomic<bool>* cancel = &m_cancel;
    m_worker = QThread::create([this, d, answers, cancel] {
        answers->paramsOk = d->GetParameters(answers->params, cancel) == 0;
        // The failure is told at once, not after the serial numbers.
        if (!answers->paramsOk && !cancel->load())
            QMetaObject::invokeMethod(this, &CDeviceInfoDlg::ParametersFailed,
                                      Qt::QueuedConnection);
        if (!cancel->load()) d->GetSerialNumbers(0, answers->analyzer, cancel);
        for (int c = 0; c < 4; ++c)
            if (answers->present[c] && !cancel->load())
                d->GetSerialNumbers(c + 1, answers->channels[c], cancel);
    });
    connect(m_worker, &QThread::finished, this, [this, answers] { Show(*answers); });
    m_worker->start();
}

CDeviceInfoDlg::~CDeviceInfoDlg() {
    // Closing lets the requests go: the one in progress ends within a moment.
    m_cancel = true;
    m_worker->wait();
    delete m_worker;
}

void CDeviceInfoDlg::ParametersFailed() {
    m_paramsReported = true;
    ThePrompter().Message(QStringLiteral("Communication Error"));
}

void CDeviceInfoDlg::Show(const Answers& a) {
    if (!a.paramsOk && !m_paramsReported)
        ThePrompter().Message(QStringLiteral("Communication Error"));
    m_fields[QStringLiteral("Manufacturer")]->setText(a.params.p1);
    m_fields[QStringLiteral("Model")]->setText(a.params.p2);
    m_fields[QStringLiteral("Model Name")]->setText(a.params.p3);
    m_fields[QStringLiteral("Serial Number")]->setText(a.analyzer.serial);
    m_fields[QStringLiteral("Firmware Version")]->setText(a.analyzer.firmware);
    for (int c = 1; c <= 4; ++c) {
        QLineEdit* sn = m_fields[QStringLiteral("Channel %1 S/N ").arg(c)];
        QLineEdit* fw = m_fields[QStringLiteral("Channel %1 Firmware Version").arg(c)];
        if (a.present[c - 1]) {
            sn->setText(a.channels[c - 1].tdSerial);
            fw->setText(a.channels[c - 1].tdFirmware);
        } else {
            sn->setText(kNotConnected);
        }
    }
    m_finished = true;
    Q_EMIT Filled();
}

QString CDeviceInfoDlg::Field(const QString& name) const {
    QLineEdit* e = m_fields.value(name);
    return e ? e->text() : QString();
}

void CDeviceInfoDlg::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape close the dialog only from its Ok button.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
         event->key() == Qt::Key_Escape) &&
        !qobject_cast<QPushButton*>(focusWidget())) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
