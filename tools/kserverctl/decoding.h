#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace tarvo::kserverctl {

/// One property entry of a property text or a change notice.
struct PropertyField {
  int index = 0;
  double number = 0;  ///< value of numeric properties
  std::string text;   ///< value of text properties, as on the wire (Latin-1)
  std::string raw;    ///< the entry's bytes as received, code byte included; empty when built here
};

/// The entries of a property text in the order they came. Reading stops at a code outside the
/// table or a value cut short; `complete` then tells that something was left unread.
struct PropertyList {
  std::vector<PropertyField> fields;
  bool complete = true;

  /// The last entry for `index`, or nullptr.
  const PropertyField* Find(int index) const;
};

/// Decodes a property text (entries only).
PropertyList DecodeProperties(std::string_view entries);

/// The short key naming a property in tables, JSON and `--set` ("x", "level", "address").
std::string_view PropertyKey(int index);
/// The property a key names; "position" is not a property and gives nothing.
std::optional<int> PropertyIndexForKey(std::string_view key);
/// The value as people read it: numbers plain, colours "#RRGGBB", the address dotted, texts in
/// UTF-8 with control characters shown as "?".
std::string PropertyValueText(const PropertyField& field);
/// A value typed by a user for property `index` (UTF-8), or why it is not one.
base::Result<PropertyField> ParsePropertyValue(int index, std::string_view text);
/// The entry bytes of a field: the received bytes when it has them, else freshly encoded.
std::string EncodeField(const PropertyField& field);
/// Whether two fields of the same property write the same entry.
bool SameValue(const PropertyField& a, const PropertyField& b);

/// Account state of a status byte: 0 guest, 1 offline, 2 in use.
std::string_view AccountStateText(int state);
/// Caption of a rights level; levels above 3 read as "Administrator".
std::string_view RightsText(int rights);

/// A server-to-remote-control message, decoded. Which members are set depends on the id.
struct Notice {
  int id = 0;               ///< message id 50..59
  int number = 0;           ///< account number (50..54) or player id (55..59)
  int status = -1;          ///< account status byte (50, 51)
  std::string name;         ///< account name, wire text (50, 52, 55, 57, 58)
  int flags = -1;           ///< account flags byte (54, 57)
  PropertyList properties;  ///< 54, 55, 57, 59
};

/// Decodes message `id` with `payload`; nothing for other ids or a payload that is too short.
std::optional<Notice> DecodeNotice(int id, std::string_view payload);

}  // namespace tarvo::kserverctl
