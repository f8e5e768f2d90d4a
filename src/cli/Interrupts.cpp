#include "Interrupts.h"

#include <csignal>

#ifdef Q_OS_WIN

#include <QMetaObject>

#include <atomic>
#include <windows.h>

// The console's control handler runs on a thread of its own, so it may post
// to the event loop. A closed console ends the process once the handler
// returns: the handler holds it until the run has ended (the object is gone)
// or the system's few seconds are nearly up.
namespace {
std::atomic<Interrupts*> g_target{nullptr};
// Set while no run needs holding; made once, kept for the process.
HANDLE Finished() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    return event;
}

BOOL WINAPI OnControl(DWORD type) {
    Interrupts* target = g_target.load();
    if (!target) return FALSE;
    const bool ending =
        type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT;
    QMetaObject::invokeMethod(target, "Arrived", Qt::QueuedConnection,
                              Q_ARG(int, ending ? SIGTERM : SIGINT));
    if (ending) WaitForSingleObject(Finished(), 4500);
    return TRUE;
}
} // namespace

struct Interrupts::Platform {};

Interrupts::Interrupts() {
    const HANDLE finished = Finished();
    if (!finished) return;
    ResetEvent(finished);
    g_target = this;
    m_installed = SetConsoleCtrlHandler(OnControl, TRUE) != 0;
}

Interrupts::~Interrupts() {
    g_target = nullptr;
    if (m_installed) SetConsoleCtrlHandler(OnControl, FALSE);
    // A handler holding a closing console lets it go now.
    if (const HANDLE finished = Finished()) SetEvent(finished);
}

#else

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

// SIGINT and SIGTERM reach the event loop through a pipe: the handler only
// writes the signal number, which is all it may safely do.
namespace {
int g_signalPipe[2] = {-1, -1};

void OnSignal(int sig) {
    const int saved = errno;
    const char c = char(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}
} // namespace

struct Interrupts::Platform {
    struct sigaction oldInt = {}, oldTerm = {};
    std::unique_ptr<QSocketNotifier> notifier;
};

Interrupts::Interrupts() : m_platform(std::make_unique<Platform>()) {
    if (::pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0) return;
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, &m_platform->oldInt);
    sigaction(SIGTERM, &sa, &m_platform->oldTerm);
    m_installed = true;
    m_platform->notifier =
        std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    connect(m_platform->notifier.get(), &QSocketNotifier::activated, this, [this] {
        char c = 0;
        if (::read(g_signalPipe[0], &c, 1) == 1 && c != 0) Q_EMIT Arrived(int(c));
    });
}

Interrupts::~Interrupts() {
    if (!m_installed) return;
    m_platform->notifier.reset();
    sigaction(SIGINT, &m_platform->oldInt, nullptr);
    sigaction(SIGTERM, &m_platform->oldTerm, nullptr);
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
}

#endif
