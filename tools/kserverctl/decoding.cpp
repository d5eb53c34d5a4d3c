#include "tools/kserverctl/decoding.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "net/address.h"
#include "protocol/encoding.h"
#include "protocol/integer_parser.h"
#include "protocol/messages.h"
#include "protocol/properties.h"
#include "tools/kserverctl/text.h"

namespace tarvo::kserverctl {
namespace {

namespace p = protocol;
using p::PropertyEncoding;

// clang-format off
constexpr std::array<std::string_view, p::kPropertyCount> kKeys = {
    "id", "x", "y", "z", "angle", "animation", "body_mesh", "head_mesh", "body_texture",
    "head_texture", "arm_colour", "shoe_colour", "nickname", "chat", "level", "udp_port",
    "address", "hand_colour"};
// clang-format on

std::optional<double> ParseDecimal(std::string_view text) {
  const std::string copy(text);
  if (copy.empty() || std::isspace(static_cast<unsigned char>(copy.front()))) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(copy.c_str(), &end);
  if (errno != 0 || end != copy.c_str() + copy.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<long long> ParseWhole(std::string_view text) {
  if (!text.empty() && text.front() == '#') {
    // "#RRGGBB" is how colours are usually written.
    std::string hex = "$";
    hex.append(text.substr(1));
    const auto value = p::ParseInteger(hex);
    if (!value) return std::nullopt;
    return static_cast<long long>(static_cast<std::uint32_t>(*value));
  }
  const auto value = p::ParseInteger(text);
  if (!value) return std::nullopt;
  const bool hex = text.find_first_of("$xX") != std::string_view::npos;
  return hex ? static_cast<long long>(static_cast<std::uint32_t>(*value))
             : static_cast<long long>(*value);
}

}  // namespace

const PropertyField* PropertyList::Find(int index) const {
  const PropertyField* found = nullptr;
  for (const PropertyField& field : fields) {
    if (field.index == index) found = &field;
  }
  return found;
}

PropertyList DecodeProperties(std::string_view entries) {
  PropertyList list;
  p::EntryReader reader(entries, p::EntrySide::kServer);
  p::PropertyEntry entry;
  for (;;) {
    const std::size_t start = reader.position();
    const p::EntryStatus status = reader.Next(entry);
    if (status == p::EntryStatus::kInvalidCode) {
      list.complete = false;
      break;
    }
    if (status == p::EntryStatus::kEnd) {
      // A lone trailing code byte, or a value cut short, is left unread.
      if (start < entries.size()) list.complete = false;
      break;
    }
    PropertyField field;
    field.index = entry.index;
    field.number = entry.number;
    field.text = std::string(entry.text);
    field.raw = std::string(entries.substr(start, reader.position() - start));
    list.fields.push_back(std::move(field));
  }
  return list;
}

std::string_view PropertyKey(int index) {
  if (index < 0 || index >= p::kPropertyCount) return "?";
  return kKeys[index];
}

std::optional<int> PropertyIndexForKey(std::string_view key) {
  for (int i = 0; i < p::kPropertyCount; ++i) {
    if (kKeys[i] == key) return i;
  }
  return std::nullopt;
}

std::string PropertyValueText(const PropertyField& field) {
  const p::PropertyInfo& info = p::kProperties[field.index];
  switch (info.encoding) {
    case PropertyEncoding::kShortString:
      return Printable(field.text);
    case PropertyEncoding::kColour: {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "#%06X",
                    static_cast<unsigned>(field.number) & 0xFFFFFFu);
      return buffer;
    }
    case PropertyEncoding::kAddress:
      return net::FormatIpv4(static_cast<std::uint32_t>(field.number));
    default:
      return FormatNumber(field.number);
  }
}

base::Result<PropertyField> ParsePropertyValue(int index, std::string_view text) {
  const auto fail = [&](const std::string& why) {
    return base::Fail(std::string(PropertyKey(index)) + ": " + why);
  };
  if (index < 0 || index >= p::kPropertyCount) return fail("no such property");
  const p::PropertyInfo& info = p::kProperties[index];
  PropertyField field;
  field.index = index;
  switch (info.encoding) {
    case PropertyEncoding::kShortString: {
      field.text = Utf8ToLatin1(text);
      const std::size_t limit = info.max_text > 0 ? info.max_text : p::kMaxShortString;
      if (field.text.size() > limit) {
        return fail("longer than " + std::to_string(limit) + " bytes");
      }
      if (field.text.find('\n') != std::string::npos) return fail("holds a line break");
      return field;
    }
    case PropertyEncoding::kCoordinate: {
      const auto value = ParseDecimal(text);
      if (!value || *value < p::kMinCoordinate || *value > p::kMaxCoordinate) {
        return fail("expected a number from -4000 to 4191.5");
      }
      // Coordinates travel in half steps, truncated toward zero.
      field.number = std::trunc(*value * 2) / 2;
      return field;
    }
    case PropertyEncoding::kAngle: {
      const auto value = ParseDecimal(text);
      if (!value || *value < 0 || *value > 446) return fail("expected degrees from 0 to 446");
      field.number = std::trunc(*value / 2) * 2;
      return field;
    }
    case PropertyEncoding::kAddress: {
      const auto value = net::ParseIpv4(text);
      if (!value) return fail("expected a dotted address such as 10.0.0.1");
      field.number = *value;
      return field;
    }
    case PropertyEncoding::kColour: {
      const auto value = ParseWhole(text);
      if (!value || *value < 0 || *value > 0xFFFFFF) {
        return fail("expected a colour such as #FF8000");
      }
      field.number = static_cast<double>(*value);
      return field;
    }
    case PropertyEncoding::kByteNumber:
    case PropertyEncoding::kNumber2:
    case PropertyEncoding::kNumber3: {
      const long long limit = info.encoding == PropertyEncoding::kByteNumber ? p::kMaxByteNumber
                              : info.encoding == PropertyEncoding::kNumber2  ? p::kMaxNumber2
                                                                             : p::kMaxNumber3;
      const auto value = ParseWhole(text);
      if (!value || *value < 0 || *value > limit) {
        return fail("expected a whole number from 0 to " + std::to_string(limit));
      }
      field.number = static_cast<double>(*value);
      return field;
    }
  }
  return fail("cannot be set");
}

std::string EncodeField(const PropertyField& field) {
  if (!field.raw.empty()) return field.raw;
  std::string out;
  p::PutEntry(out, field.index, field.number, field.text);
  return out;
}

bool SameValue(const PropertyField& a, const PropertyField& b) {
  if (a.index != b.index) return false;
  std::string x, y;
  p::PutEntry(x, a.index, a.number, a.text);
  p::PutEntry(y, b.index, b.number, b.text);
  return x == y;
}

std::string_view AccountStateText(int state) {
  switch (state) {
    case 0:
      return "guest";
    case 1:
      return "offline";
    case 2:
      return "in use";
    default:
      return "unknown";
  }
}

std::string_view RightsText(int rights) {
  if (rights <= 0) return p::kRightsCaptions[0];
  return p::kRightsCaptions[rights > 3 ? 3 : rights];
}

std::optional<Notice> DecodeNotice(int id, std::string_view payload) {
  namespace m = p::msg;
  Notice notice;
  notice.id = id;
  switch (id) {
    case m::kAccountEntry:
    case m::kAccountStatus: {
      const auto e = p::ParseAccountEntry(payload);
      if (!e) return std::nullopt;
      notice.number = e->account_number;
      notice.status = e->status;
      if (id == m::kAccountEntry) notice.name = std::string(e->name);
      return notice;
    }
    case m::kAccountName: {
      const auto e = p::ParseAccountName(payload);
      if (!e) return std::nullopt;
      notice.number = e->account_number;
      notice.name = std::string(e->name);
      return notice;
    }
    case m::kAccountRemoved: {
      const auto n = p::ParseAccountNumber(payload);
      if (!n) return std::nullopt;
      notice.number = *n;
      return notice;
    }
    case m::kAccountDetails: {
      const auto d = p::ParseAccountDetails(payload);
      if (!d) return std::nullopt;
      notice.number = d->account_number;
      notice.flags = d->flags;
      notice.properties = DecodeProperties(d->properties);
      return notice;
    }
    case m::kPlayerEntry: {
      const auto e = p::ParsePlayerEntry(payload);
      if (!e) return std::nullopt;
      notice.number = e->player_id;
      notice.name = std::string(e->account_name);
      notice.properties = DecodeProperties(e->entries);
      return notice;
    }
    case m::kPlayerLeft: {
      const auto n = p::ParsePlayerId(payload);
      if (!n) return std::nullopt;
      notice.number = *n;
      return notice;
    }
    case m::kPlayerDetails: {
      const auto d = p::ParsePlayerDetails(payload);
      if (!d) return std::nullopt;
      notice.number = d->player_id;
      notice.name = std::string(d->account_name);
      notice.flags = d->flags;
      notice.properties = DecodeProperties(d->properties);
      return notice;
    }
    case m::kPlayerAccount: {
      const auto a = p::ParsePlayerAccount(payload);
      if (!a) return std::nullopt;
      notice.number = a->player_id;
      notice.name = std::string(a->account_name);
      return notice;
    }
    case m::kPlayerChanges: {
      const auto e = p::ParsePlayerEntries(payload);
      if (!e) return std::nullopt;
      notice.number = e->player_id;
      notice.properties = DecodeProperties(e->entries);
      return notice;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace tarvo::kserverctl
