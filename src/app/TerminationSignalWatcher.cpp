#include "app/TerminationSignalWatcher.h"

#include "app/AppLogging.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora {

namespace {

int signalPipe[2] = {-1, -1};

// A hang-up (the terminal closed, or a session ending after its SIGTERM) ends the program as a
// termination does, through the drain, rather than at once with the last words unsaved.
constexpr int watchedSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignalWatcher::TerminationSignalWatcher(QObject *parent)
    : QObject(parent) {
    if (signalPipe[0] != -1) {
        qCWarning(lcApp) << "termination signals are already watched";
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        qCWarning(lcApp) << "termination signals cannot be watched:" << strerror(errno);
        signalPipe[0] = signalPipe[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignalWatcher::drain);

    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : watchedSignals) {
        if (::sigaction(signalNumber, &action, nullptr) != 0)
            qCWarning(lcApp) << "signal" << signalNumber << "cannot be watched:" << strerror(errno);
    }
}

TerminationSignalWatcher::~TerminationSignalWatcher() {
    if (!m_notifier)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : watchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void TerminationSignalWatcher::drain() {
    char bytes[16];
    for (;;) {
        const auto count = ::read(signalPipe[0], bytes, sizeof bytes);
        if (count <= 0)
            break;
        for (ssize_t i = 0; i < count; ++i)
            Q_EMIT terminationRequested(int(bytes[i]));
    }
}

} // namespace velmora
