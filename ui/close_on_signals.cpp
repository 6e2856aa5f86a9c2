#include "ui/close_on_signals.h"

#include <sys/signalfd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <system_error>

namespace zelk {

TCloseOnSignals::TCloseOnSignals(std::function<void()> close) : close_(std::move(close)) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&set, signal);
    if (const int rc = pthread_sigmask(SIG_BLOCK, &set, nullptr); rc != 0)
        throw std::system_error(rc, std::generic_category(), "pthread_sigmask");
    fd_ = TUniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!fd_) throw std::system_error(errno, std::generic_category(), "signalfd");
}

TCloseOnSignals::~TCloseOnSignals() = default;

void TCloseOnSignals::Watch() {
    notifier_ = std::make_unique<QSocketNotifier>(fd_.Get(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        signalfd_siginfo info{};
        while (::read(fd_.Get(), &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        }
        close_();
    });
}

}  // namespace zelk
