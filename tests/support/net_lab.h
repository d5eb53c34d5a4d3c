#pragma once

// A small internet inside network namespaces that one test makes and removes: a public
// namespace (198.18.0.1, from the benchmarking range) and homes (10.0.N.2) behind NAT routers
// that give every flow a random public port, as mobile and campus networks do. Needs root, `ip`
// and `nft`; nothing outside the namespaces it made is touched.

#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tarvo::testing {

/// Runs a shell command; its exit status, with its output in `output` when given.
inline int RunShell(const std::string& command, std::string* output = nullptr) {
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 512> buffer{};
  std::string text;
  while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) text += buffer.data();
  const int status = ::pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

/// One program running in the background with stdout and stderr in a file.
class BackgroundProgram {
 public:
  BackgroundProgram(const std::vector<std::string>& args, std::filesystem::path output)
      : output_(std::move(output)) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that died
      std::FILE* file = std::fopen(output_.c_str(), "w");
      if (file == nullptr) ::_exit(127);
      ::dup2(::fileno(file), STDOUT_FILENO);
      ::dup2(::fileno(file), STDERR_FILENO);
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~BackgroundProgram() { Wait(std::chrono::milliseconds(0)); }
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;

  /// Waits for the end; the exit status, or -1 when it had to be killed after `timeout`.
  int Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return status_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status_ = -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
    return status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  /// Everything the program wrote so far.
  std::string Output() const {
    std::ifstream in(output_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::filesystem::path output_;
  pid_t pid_ = -1;
  int status_ = -1;
};

/// The namespaces of one test. Every name starts with "tv" and the test's process id, so that
/// leftovers of a test that was killed are found and removed by the next one.
class NetLab {
 public:
  /// The public side's address, on the public namespace's loopback.
  static constexpr const char* kPublicAddress = "198.18.0.1";

  /// Why namespaces cannot be made here, or empty when they can.
  static std::string Unavailable() {
    if (::geteuid() != 0) return "network namespaces need root";
    std::string output;
    if (RunShell("ip -V", &output) != 0) return "the ip program is missing: " + output;
    if (RunShell("nft --version", &output) != 0) return "the nft program is missing: " + output;
    return {};
  }

  NetLab() : prefix_("tv" + std::to_string(::getpid())) {
    RemoveLeftovers();
    Add(Public());
    Do("ip netns exec " + Public() + " ip addr add " + kPublicAddress + "/32 dev lo");
  }
  ~NetLab() {
    for (auto it = namespaces_.rbegin(); it != namespaces_.rend(); ++it)
      RunShell("ip netns del " + *it);
  }
  NetLab(const NetLab&) = delete;
  NetLab& operator=(const NetLab&) = delete;

  /// The first command that failed, with its output; empty while all went well.
  const std::string& error() const { return error_; }
  std::string Public() const { return prefix_ + "p"; }

  /// Makes home `n` (1 to 200) behind its own NAT router, linked to the public namespace, and
  /// returns the home's namespace. The router masquerades with random, fully random ports.
  std::string AddNatHome(int n) {
    const std::string nat = prefix_ + "n" + std::to_string(n);
    const std::string home = prefix_ + "h" + std::to_string(n);
    const std::string up = prefix_ + "u" + std::to_string(n);    // public side of the router
    const std::string wan = prefix_ + "w" + std::to_string(n);   // router side towards it
    const std::string lan = prefix_ + "l" + std::to_string(n);   // router side towards home
    const std::string host = prefix_ + "e" + std::to_string(n);  // the home's interface
    const std::string wan_net = "198.18." + std::to_string(n) + ".";
    const std::string lan_net = "10.0." + std::to_string(n) + ".";
    Add(nat);
    Add(home);
    Link(Public(), up, wan_net + "1/24", nat, wan, wan_net + "2/24");
    Link(nat, lan, lan_net + "1/24", home, host, lan_net + "2/24");
    Do("ip netns exec " + home + " ip route add default via " + lan_net + "1");
    Do("ip netns exec " + nat + " ip route add " + kPublicAddress + "/32 via " + wan_net + "1");
    Do("ip netns exec " + nat + " sysctl -qw net.ipv4.ip_forward=1");
    Nft(nat,
        "table ip nat {\n chain post {\n  type nat hook postrouting priority srcnat;\n  oifname "
        "\"" +
            wan + "\" masquerade random,fully-random\n }\n}\n");
    return home;
  }

  /// Drops about `percent` of the UDP datagrams that leave namespace `ns`.
  void DropUdp(const std::string& ns, int percent) {
    Nft(ns,
        "table ip loss {\n chain out {\n  type filter hook output priority 0;\n  meta l4proto "
        "udp numgen random mod 100 < " +
            std::to_string(percent) + " drop\n }\n}\n");
  }

  /// The words that run a program inside `ns`.
  static std::vector<std::string> In(const std::string& ns) { return {"ip", "netns", "exec", ns}; }

 private:
  void Do(const std::string& command) {
    if (!error_.empty()) return;
    std::string output;
    if (RunShell(command, &output) != 0) error_ = command + ": " + output;
  }
  void Add(const std::string& ns) {
    Do("ip netns add " + ns);
    if (error_.empty()) namespaces_.push_back(ns);
    Do("ip netns exec " + ns + " ip link set lo up");
  }
  // A veth pair from `a` to `b`, each end with its address.
  void Link(const std::string& a, const std::string& a_if, const std::string& a_address,
            const std::string& b, const std::string& b_if, const std::string& b_address) {
    Do("ip link add " + a_if + " netns " + a + " type veth peer name " + b_if + " netns " + b);
    Do("ip netns exec " + a + " ip addr add " + a_address + " dev " + a_if);
    Do("ip netns exec " + a + " ip link set " + a_if + " up");
    Do("ip netns exec " + b + " ip addr add " + b_address + " dev " + b_if);
    Do("ip netns exec " + b + " ip link set " + b_if + " up");
  }
  void Nft(const std::string& ns, const std::string& rules) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / (prefix_ + "-" + ns + ".nft");
    std::ofstream(file) << rules;
    Do("ip netns exec " + ns + " nft -f " + file.string());
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
  }
  // Namespaces of earlier test processes that no longer run.
  static void RemoveLeftovers() {
    std::string list;
    if (RunShell("ip netns list", &list) != 0) return;
    std::istringstream lines(list);
    std::string name;
    while (lines >> name) {
      if (name.rfind("tv", 0) != 0 || name.size() < 4) continue;
      std::size_t digits = 2;
      while (digits < name.size() && std::isdigit(static_cast<unsigned char>(name[digits])))
        ++digits;
      if (digits == 2) continue;
      const pid_t owner = static_cast<pid_t>(std::stol(name.substr(2, digits - 2)));
      if (owner != ::getpid() && ::kill(owner, 0) != 0) RunShell("ip netns del " + name);
      std::getline(lines, name);  // the rest of the line, "(id: N)"
    }
  }

  std::string prefix_;
  std::vector<std::string> namespaces_;
  std::string error_;
};

}  // namespace tarvo::testing
