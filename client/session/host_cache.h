#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::client {

/// One resolved server: the address text exactly as typed, and what it resolved to.
struct TAdventureServer {
  std::string HostText;
  /// IPv4 address, first octet in the low byte.
  std::uint32_t HostAddress = 0;
};

/// Addresses resolved during this run, so a name is looked up at most once per process.
class HostCache {
 public:
  /// The cached address of `text` (compared exactly, case-sensitive), or -1.
  std::int64_t FindCachedHost(std::string_view text) const;
  /// Appends an entry unless `text` is already cached.
  void AddCachedHost(std::string_view text, std::uint32_t address);
  void Clear() { entries_.clear(); }
  const std::vector<TAdventureServer>& entries() const { return entries_; }

 private:
  std::vector<TAdventureServer> entries_;
};

/// The process-wide cache every session uses.
HostCache& ProcessHostCache();

}  // namespace tarvo::client
