#pragma once

// Starts the real kserver on a temporary copy of a world and stops it again, for tests and load
// programs. Header-only so any test program can use it without a library.

#include <signal.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tarvo::testing {

/// How a `KServerProcess` starts.
struct KServerOptions {
  /// The world to copy (accounts.txt, levels/, guilds/ ...). Empty: the bundled world.
  std::filesystem::path world;
  /// Further command-line arguments, after --headless --dir DIR --port 0 --log-per-address 0
  /// --log-per-minute 0.
  std::vector<std::string> extra_args;
  /// The program; by default build/bin/kserver of this build.
  std::filesystem::path program;
  /// Words that run the program, before it: `ip netns exec NAME` runs it in a namespace.
  std::vector<std::string> command_prefix;
  /// How long to wait for the start line.
  std::chrono::milliseconds start_timeout{10000};
};

/// A kserver process listening on a port the system chose, on its own copy of a world.
class KServerProcess {
 public:
  using Options = KServerOptions;

  /// The bundled world of the source tree.
  static std::filesystem::path BundledWorld() {
#ifdef TARVO_SOURCE_DIR
    return std::filesystem::path(TARVO_SOURCE_DIR) / "data" / "world";
#else
    return {};
#endif
  }

  static std::filesystem::path DefaultProgram() {
#ifdef TARVO_BIN_DIR
    return std::filesystem::path(TARVO_BIN_DIR) / "kserver";
#else
    return "kserver";
#endif
  }

  KServerProcess() = default;
  ~KServerProcess() {
    Kill();
    if (!directory_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(directory_, ec);
    }
  }
  KServerProcess(const KServerProcess&) = delete;
  KServerProcess& operator=(const KServerProcess&) = delete;

  /// Makes the server directory (a copy of the world) without starting anything, so a test can
  /// change files first. Called by Start when not done yet.
  bool Prepare(const std::filesystem::path& world) {
    if (!directory_.empty()) return true;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tarvo-kserver-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return false;
    directory_ = pattern;
    if (!world.empty()) {
      std::error_code ec;
      std::filesystem::copy(world, directory_, std::filesystem::copy_options::recursive, ec);
      if (ec) return false;
    }
    return true;
  }

  /// Starts the server and waits for its start line; false when it did not come.
  bool Start(Options options = {}) {
    if (options.world.empty()) options.world = BundledWorld();
    if (options.program.empty()) options.program = DefaultProgram();
    if (!Prepare(options.world)) return false;
    // Tests read every log line; the log limits are for the open internet.
    std::vector<std::string> args = options.command_prefix;
    for (const std::string& word :
         {options.program.string(), std::string("--headless"), std::string("--dir"),
          directory_.string(), std::string("--port"), std::string("0"),
          std::string("--log-per-address"), std::string("0"), std::string("--log-per-minute"),
          std::string("0")})
      args.push_back(word);
    args.insert(args.end(), options.extra_args.begin(), options.extra_args.end());
    // A restarted server's start line follows the log of the one before.
    std::size_t log_from = 0;
    {
      std::lock_guard lock(mutex_);
      log_from = log_.size();
      stderr_closed_ = false;
    }
    if (!Spawn(args)) return false;
    static constexpr std::string_view kStarted = "server started at port ";
    std::unique_lock lock(mutex_);
    std::size_t at = std::string::npos;
    const bool started = changed_.wait_for(lock, options.start_timeout, [&] {
      at = log_.find(kStarted, log_from);
      return at != std::string::npos || stderr_closed_;
    });
    if (!started || at == std::string::npos) return false;
    port_ = static_cast<std::uint16_t>(std::atoi(log_.c_str() + at + kStarted.size()));
    return true;
  }

  /// Sends a signal (SIGTERM by default) and waits for the exit; returns the exit status, or
  /// -1 when the process did not end within the timeout (it is then killed).
  int Stop(int signal_number = SIGTERM,
           std::chrono::milliseconds timeout = std::chrono::milliseconds(15000)) {
    if (pid_ <= 0) return exit_status_;
    ::kill(pid_, signal_number);
    return Wait(timeout);
  }

  /// Waits for the process to end by itself; the exit status, or -1 on timeout (then killed).
  int Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return exit_status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    for (;;) {
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) break;
      if (std::chrono::steady_clock::now() > deadline) {
        Kill();
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    if (reader_.joinable()) reader_.join();
    exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exit_status_;
  }

  /// Runs kserver once with `args` (no --headless added) to the end; returns its exit status
  /// and fills `output` with stdout and stderr.
  static int RunOnce(const std::vector<std::string>& args, std::string* output = nullptr,
                     std::filesystem::path program = {}) {
    KServerProcess process;
    std::vector<std::string> all = {program.empty() ? DefaultProgram().string() : program.string()};
    all.insert(all.end(), args.begin(), args.end());
    if (!process.Spawn(all, /*merge_stdout=*/true)) return -1;
    const int status = process.Wait(std::chrono::milliseconds(15000));
    if (output) *output = process.Log();
    return status;
  }

  std::uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  const std::filesystem::path& directory() const { return directory_; }

  /// Everything the server wrote to stderr so far.
  std::string Log() const {
    std::lock_guard lock(mutex_);
    return log_;
  }

  /// Waits until the log holds `needle` (counting only text after `from`).
  bool WaitForLog(std::string_view needle,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(5000),
                  std::size_t from = 0) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      return log_.size() > from && log_.find(needle, from) != std::string::npos;
    });
  }

  /// Number of times `needle` occurs in the log.
  std::size_t CountInLog(std::string_view needle) const {
    std::lock_guard lock(mutex_);
    std::size_t count = 0;
    for (std::size_t at = log_.find(needle); at != std::string::npos;
         at = log_.find(needle, at + needle.size()))
      ++count;
    return count;
  }

 private:
  bool Spawn(const std::vector<std::string>& args, bool merge_stdout = false) {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    pid_ = ::fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      // A test that dies (a sanitizer abort) takes its server with it: an orphan would keep
      // the test runner's output pipe open and hang it.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::dup2(fds[1], STDERR_FILENO);
      if (merge_stdout) ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    const int read_fd = fds[0];
    reader_ = std::thread([this, read_fd] {
      char buffer[4096];
      for (;;) {
        const ssize_t n = ::read(read_fd, buffer, sizeof buffer);
        if (n <= 0) break;
        std::lock_guard lock(mutex_);
        log_.append(buffer, static_cast<std::size_t>(n));
        changed_.notify_all();
      }
      ::close(read_fd);
      std::lock_guard lock(mutex_);
      stderr_closed_ = true;
      changed_.notify_all();
    });
    return true;
  }

  void Kill() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
  }

  std::filesystem::path directory_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
  int exit_status_ = -1;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string log_;
  bool stderr_closed_ = false;
};

}  // namespace tarvo::testing
