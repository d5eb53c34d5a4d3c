#include "server/accounts/stored_properties.h"

namespace tarvo::server {

protocol::PropertySet DecodeStoredProperties(std::string_view properties) {
  protocol::PropertySet values;
  protocol::EntryReader reader(properties, protocol::EntrySide::kServer);
  protocol::PropertyEntry entry;
  while (reader.Next(entry) == protocol::EntryStatus::kEntry) {
    if (entry.kind == protocol::PropertyEntry::Kind::kProperty) protocol::StoreEntry(values, entry);
  }
  return values;
}

std::string EncodeStoredProperties(const protocol::PropertySet& values) {
  return protocol::EncodeEntries(values, protocol::kAccountStoredOrder);
}

}  // namespace tarvo::server
