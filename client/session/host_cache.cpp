#include "client/session/host_cache.h"

namespace tarvo::client {

std::int64_t HostCache::FindCachedHost(std::string_view text) const {
  for (const TAdventureServer& entry : entries_) {
    if (entry.HostText == text) return entry.HostAddress;
  }
  return -1;
}

void HostCache::AddCachedHost(std::string_view text, std::uint32_t address) {
  if (FindCachedHost(text) != -1) return;
  entries_.push_back({std::string(text), address});
}

HostCache& ProcessHostCache() {
  static HostCache cache;
  return cache;
}

}  // namespace tarvo::client
