#include "termination_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace quendel {

namespace {

// The handler may only do async-signal-safe work: it writes one byte; the notifier reads it on
// the GUI thread.
int wakeSockets[2] = {-1, -1};

void onTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(wakeSockets[0], &byte, 1);
}

void handle(int signalNumber, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, wakeSockets) != 0) return;
    m_notifier = new QSocketNotifier(wakeSockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::drain);
    handle(SIGINT, onTerminationSignal);
    handle(SIGTERM, onTerminationSignal);
}

TerminationSignals::~TerminationSignals() {
    if (m_notifier == nullptr) return;
    handle(SIGINT, SIG_DFL);
    handle(SIGTERM, SIG_DFL);
    delete m_notifier;
    ::close(wakeSockets[0]);
    ::close(wakeSockets[1]);
    wakeSockets[0] = wakeSockets[1] = -1;
}

void TerminationSignals::drain() {
    char byte = 0;
    [[maybe_unused]] const ssize_t got = read(wakeSockets[1], &byte, 1);
    emit terminationRequested();
}

}  // namespace quendel
