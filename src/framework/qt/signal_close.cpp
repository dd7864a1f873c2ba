#include "framework/qt/signal_close.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <csignal>

namespace fw::qt {
namespace {

// A signal handler can reach nothing but a static: the write end of a pipe that the event loop
// watches. One pipe for the process, made by the first SignalClose.
int gSignalPipe[2] = {-1, -1};

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void OnTerminateSignal(int sig) {
  const int saved = errno;
  const auto byte = static_cast<unsigned char>(sig);
  (void)!::write(gSignalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

SignalClose::SignalClose() {
  if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { OnSignal(); });
  struct sigaction sa {};
  sa.sa_handler = OnTerminateSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (const int sig : kSignals) ::sigaction(sig, &sa, nullptr);
}

SignalClose::~SignalClose() {
  for (const int sig : kSignals) std::signal(sig, SIG_DFL);
}

void SignalClose::OnSignal() {
  unsigned char drained[16];
  while (::read(gSignalPipe[0], drained, sizeof drained) > 0) {
  }
  CloseInnermost(nullptr);
}

// One window a turn of the event loop: a closed modal dialog returns from its loop before the
// next one is asked. A window that stays open after being asked ends the round.
void SignalClose::CloseInnermost(QWidget* previous) {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || modal == previous) return;
  modal->close();
  QTimer::singleShot(0, [modal] { CloseInnermost(modal); });
}

}  // namespace fw::qt
