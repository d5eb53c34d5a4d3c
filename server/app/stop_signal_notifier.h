#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tarvo::server {

/// Turns SIGINT and SIGTERM into a call on the GUI thread: the handler only writes the signal
/// number into a pipe, whose reading end the event loop watches. One instance at a time; the
/// default handlers return when it is freed.
class StopSignalNotifier final : public QObject {
 public:
  explicit StopSignalNotifier(std::function<void(int signal)> on_stop, QObject* parent = nullptr);
  ~StopSignalNotifier() override;
  StopSignalNotifier(const StopSignalNotifier&) = delete;
  StopSignalNotifier& operator=(const StopSignalNotifier&) = delete;

 private:
  void OnReadable();

  std::function<void(int)> on_stop_;
  int read_fd_ = -1;
  int write_fd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tarvo::server
