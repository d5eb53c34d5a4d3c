#include "server/app/stop_signal_notifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace tarvo::server {
namespace {

volatile std::sig_atomic_t g_write_fd = -1;

void OnStopSignal(int signal) {
  const int saved_errno = errno;
  const auto byte = static_cast<unsigned char>(signal);
  // A full pipe already holds a stop request; nothing more is needed.
  if (g_write_fd >= 0) (void)!::write(g_write_fd, &byte, 1);
  errno = saved_errno;
}

void SetHandler(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

StopSignalNotifier::StopSignalNotifier(std::function<void(int signal)> on_stop, QObject* parent)
    : QObject(parent), on_stop_(std::move(on_stop)) {
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return;
  read_fd_ = fds[0];
  write_fd_ = fds[1];
  g_write_fd = write_fd_;
  notifier_ = new QSocketNotifier(read_fd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { OnReadable(); });
  SetHandler(OnStopSignal);
  // A client that vanishes mid-send must not end the server; sends report the error instead.
  std::signal(SIGPIPE, SIG_IGN);
}

StopSignalNotifier::~StopSignalNotifier() {
  if (read_fd_ < 0) return;
  SetHandler(SIG_DFL);
  g_write_fd = -1;
  ::close(read_fd_);
  ::close(write_fd_);
}

void StopSignalNotifier::OnReadable() {
  unsigned char byte = 0;
  int signal = 0;
  while (::read(read_fd_, &byte, 1) == 1) signal = byte;
  if (signal != 0 && on_stop_) on_stop_(signal);
}

}  // namespace tarvo::server
