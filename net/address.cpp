#include "net/address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "net/socket_util.h"

namespace tarvo::net {

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
  // inet_pton needs a terminated string; anything longer than "255.255.255.255" is not an address.
  if (text.empty() || text.size() > 15) {
    return std::nullopt;
  }
  char buffer[16] = {};
  std::memcpy(buffer, text.data(), text.size());
  in_addr parsed{};
  if (inet_pton(AF_INET, buffer, &parsed) != 1) {
    return std::nullopt;
  }
  sockaddr_in socket_address{};
  socket_address.sin_addr = parsed;
  return detail::AddressOf(socket_address);
}

std::string FormatIpv4(std::uint32_t address) {
  return std::to_string(address & 0xFF) + "." + std::to_string((address >> 8) & 0xFF) + "." +
         std::to_string((address >> 16) & 0xFF) + "." + std::to_string(address >> 24);
}

Result<std::uint32_t> ResolveHost(std::string_view host) {
  if (host.empty()) {
    return Fail("resolve: empty host name");
  }
  const std::string name(host);
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* answer = nullptr;
  const int status = getaddrinfo(name.c_str(), nullptr, &hints, &answer);
  if (status != 0) {
    std::string error = "resolve " + name + ": ";
    error += status == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(status);
    return Fail(std::move(error));
  }
  std::optional<std::uint32_t> address;
  for (const addrinfo* entry = answer; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
      address = detail::AddressOf(*reinterpret_cast<const sockaddr_in*>(entry->ai_addr));
      break;
    }
  }
  freeaddrinfo(answer);
  if (!address) {
    return Fail("resolve " + name + ": no IPv4 address");
  }
  return *address;
}

Result<TcpStream> ConnectTcp(std::uint32_t address, std::uint16_t port,
                             std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const std::string target = FormatIpv4(address) + ":" + std::to_string(port);
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return Fail(detail::ErrorText("socket", errno));
  }
  // The stream owns the descriptor from here, so every return below closes it.
  TcpStream stream(fd);
  const sockaddr_in socket_address = detail::MakeSocketAddress(address, port);
  int status =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&socket_address), sizeof(socket_address));
  if (status != 0 && errno != EINPROGRESS && errno != EINTR) {
    return Fail(detail::ErrorText("connect " + target, errno));
  }
  if (status != 0) {
    // An interrupted connect goes on in the background just like one in progress.
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) {
        return Fail("connect " + target + ": timed out after " + std::to_string(timeout.count()) +
                    " ms");
      }
      pollfd entry{fd, POLLOUT, 0};
      const int wait_ms = left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
      const int ready = ::poll(&entry, 1, wait_ms);
      if (ready > 0) {
        break;
      }
      if (ready < 0 && errno != EINTR) {
        return Fail(detail::ErrorText("connect " + target, errno));
      }
    }
    int error = 0;
    socklen_t length = sizeof(error);
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
      error = errno;
    }
    if (error != 0) {
      return Fail(detail::ErrorText("connect " + target, error));
    }
  }
  // Small movement packets must leave at once rather than wait for an acknowledgement; where the
  // system refuses, they only leave later.
  (void)stream.SetNoDelay(true);
  return stream;
}

std::string LocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof(name) - 1) != 0) {
    return std::string();
  }
  return std::string(name);
}

}  // namespace tarvo::net
