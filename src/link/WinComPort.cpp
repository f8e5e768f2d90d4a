#include "WinComPort.h"

#include <QDeadlineTimer>
#include <QThread>

#include <windows.h>

namespace {

HANDLE OpenName(const QString& name) {
    return CreateFileW(reinterpret_cast<const wchar_t*>(name.utf16()), GENERIC_READ | GENERIC_WRITE,
                       0, nullptr, OPEN_EXISTING, 0, nullptr);
}

// 1 ms timer resolution once a connection starts, so that the 1 ms polls are
// short; never lowered again while the program runs.
void RaiseTimerResolution() {
    static const bool raised = timeBeginPeriod(1) == TIMERR_NOERROR;
    Q_UNUSED(raised);
}

} // namespace

WinComPort::~WinComPort() {
    close();
}

int WinComPort::Open(const QString& name, LineProfile profile) {
    close();
    m_error.clear();
    m_in.clear();
    m_name = name;
    if (name.isEmpty()) return 16;
    // Ports above COM9 open only under the device form of the name.
    HANDLE h = OpenName(name);
    if (h == INVALID_HANDLE_VALUE && !name.startsWith(QLatin1String("\\\\.\\")))
        h = OpenName(QStringLiteral("\\\\.\\") + name);
    if (h == INVALID_HANDLE_VALUE) return 16;
    if (h == nullptr) return 8;
    m_handle = h;

    const bool probe = profile == LineProfile::Probe;
    int result = 0;
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb)) result = 16;
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fParity = probe ? TRUE : FALSE;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = probe ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = probe ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    if (probe) {
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.XonLim = 100;
        dcb.XoffLim = 100;
    }
    dcb.fDsrSensitivity = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.EvtChar = 0;
    if (!SetCommState(h, &dcb)) result = 4;
    const DWORD queue = probe ? 4096 : 1024;
    if (!SetCommMask(h, EV_RXCHAR) || !SetupComm(h, queue, queue) ||
        !PurgeComm(h, PURGE_RXABORT | PURGE_TXABORT | PURGE_RXCLEAR | PURGE_TXCLEAR))
        result = 1;
    // Every read returns at once with what has arrived; the probe and the
    // reader poll. Writes: the probe's 10 ms, a connection's 1 ms plus 1 ms
    // a byte.
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutConstant = probe ? 10 : 1;
    t.WriteTotalTimeoutMultiplier = probe ? 0 : 1;
    if (!SetCommTimeouts(h, &t)) result = 2;
    if (result != 0) {
        close();
        return result;
    }
    if (!probe) RaiseTimerResolution();
    return 0;
}

bool WinComPort::isOpen() const {
    return m_handle != nullptr;
}

void WinComPort::close() {
    if (m_handle) CloseHandle(HANDLE(m_handle));
    m_handle = nullptr;
}

void WinComPort::Fail(const char* what) {
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1 %2: %3")
                      .arg(QLatin1String(what), m_name, qt_error_string(int(GetLastError())));
}

qint64 WinComPort::write(const QByteArray& bytes) {
    if (!m_handle) return -1;
    qint64 done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        if (!WriteFile(HANDLE(m_handle), bytes.constData() + done, DWORD(bytes.size() - done), &n,
                       nullptr))
            return -1;
        // A write that timed out with nothing taken: the line is stuck.
        if (n == 0) return done;
        done += n;
    }
    return done;
}

void WinComPort::Fetch() {
    if (!m_handle || Failed()) return;
    // Also clears a line error, which would stop further reads.
    DWORD errors = 0;
    COMSTAT status = {};
    if (!ClearCommError(HANDLE(m_handle), &errors, &status)) {
        Fail("Status of");
        return;
    }
    char buffer[1024];
    DWORD n = 0;
    if (!ReadFile(HANDLE(m_handle), buffer, sizeof buffer, &n, nullptr)) {
        Fail("Reading");
        return;
    }
    m_in.append(buffer, qsizetype(n));
}

qint64 WinComPort::bytesAvailable() {
    Fetch();
    return m_in.size();
}

bool WinComPort::waitForReadyRead(int ms) {
    QDeadlineTimer limit(ms);
    for (;;) {
        Fetch();
        if (!m_in.isEmpty()) return true;
        if (Failed() || limit.hasExpired()) return false;
        QThread::msleep(1);
    }
}

QByteArray WinComPort::readAll() {
    Fetch();
    QByteArray out;
    out.swap(m_in);
    return out;
}

bool WinComPort::clear(QSerialPort::Directions directions) {
    if (!m_handle) return false;
    DWORD flags = 0;
    if (directions & QSerialPort::Input) {
        m_in.clear();
        flags |= PURGE_RXABORT | PURGE_RXCLEAR;
    }
    if (directions & QSerialPort::Output) flags |= PURGE_TXABORT | PURGE_TXCLEAR;
    return PurgeComm(HANDLE(m_handle), flags) != 0;
}
