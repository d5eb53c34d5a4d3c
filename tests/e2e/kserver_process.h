#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::testing {

/// A real `kserver --headless` on an ephemeral port, serving a copy of the bundled world in a
/// scratch directory. Its log (stderr) is collected; the port is read from the start-up line.
class KServerProcess {
 public:
  /// Starts `binary` on a copy of `world` (a directory holding accounts.txt and levels/).
  KServerProcess(const std::filesystem::path& binary, const std::filesystem::path& world) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvo-e2e-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    std::error_code ec;
    std::filesystem::copy(world, dir_, std::filesystem::copy_options::recursive, ec);
    if (ec) return;
    int err[2];
    if (::pipe(err) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(err[1], STDERR_FILENO);
      ::close(err[0]);
      ::close(err[1]);
      const std::string bin = binary.string(), dir = dir_.string();
      ::execl(bin.c_str(), bin.c_str(), "--headless", "--dir", dir.c_str(), "--port", "0",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(err[1]);
    log_fd_ = err[0];
    reader_ = std::thread([this] { ReadLog(); });
    port_ = WaitForPort(std::chrono::seconds(10));
  }

  ~KServerProcess() {
    Stop();
    if (reader_.joinable()) reader_.join();
    if (log_fd_ >= 0) ::close(log_fd_);
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  KServerProcess(const KServerProcess&) = delete;
  KServerProcess& operator=(const KServerProcess&) = delete;

  /// The bound port, or nothing when the server did not start.
  std::optional<int> port() const { return port_; }
  const std::filesystem::path& dir() const { return dir_; }

  /// Everything logged so far.
  std::string Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }

  /// SIGTERM, then waits for the exit; returns the exit status (-1 when unknown).
  int Stop() {
    if (pid_ <= 0) return status_;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return status_;
  }

 private:
  void ReadLog() {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(log_fd_, buffer, sizeof buffer);
      if (n <= 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      log_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  // The first log line that names a port and a number after it.
  std::optional<int> WaitForPort(std::chrono::seconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      const std::string log = Log();
      std::size_t line_start = 0;
      while (line_start < log.size()) {
        std::size_t line_end = log.find('\n', line_start);
        if (line_end == std::string::npos) break;  // only whole lines
        std::string line = log.substr(line_start, line_end - line_start);
        for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t at = line.find("port");
        if (at != std::string::npos) {
          std::size_t digit = line.find_first_of("0123456789", at);
          if (digit != std::string::npos) {
            const int value = std::atoi(line.c_str() + digit);
            if (value > 0 && value <= 65535) return value;
          }
        }
        line_start = line_end + 1;
      }
      int status = 0;
      if (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
  }

  std::filesystem::path dir_;
  pid_t pid_ = -1;
  int status_ = -1;
  int log_fd_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::string log_;
  std::optional<int> port_;
};

}  // namespace tarvo::testing
