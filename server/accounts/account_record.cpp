#include "server/accounts/account_record.h"

#include <algorithm>
#include <array>
#include <functional>

#include "protocol/encoding.h"
#include "protocol/properties.h"

namespace tarvo::server {
namespace {

// Consumes a record from the front. Lengths and counts are bytes minus 32; a length below 0
// counts as 0 and a field cut short by the end of the record is taken as far as it goes.
class RecordReader {
 public:
  explicit RecordReader(std::string_view data) : data_(data) {}

  bool AtEnd() const { return pos_ >= data_.size(); }
  std::size_t Remaining() const { return data_.size() - pos_; }

  int Digit() { return static_cast<unsigned char>(data_[pos_++]) - 32; }

  int Word() {
    const int high = Digit();
    return high * 128 + Digit();
  }

  std::string Take(int length) {
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(length, 0)), Remaining());
    std::string out(data_.substr(pos_, n));
    pos_ += n;
    return out;
  }

  // A one-byte length and that many bytes; empty at the end of the record.
  std::string ShortField() { return AtEnd() ? std::string() : Take(Digit()); }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
};

void ReadShortEntries(RecordReader& reader, int count, std::vector<std::string>& list) {
  for (int i = 0; i < count && !reader.AtEnd(); ++i) list.push_back(reader.ShortField());
}

// Width of a stored property value from the shared property table; 0 marks a length-prefixed
// text.
int ValueWidth(int index) { return protocol::kProperties[static_cast<std::size_t>(index)].width; }
// When the properties outgrow their length byte, entries are left out in this order: the chat
// line first (it is stale by the next login anyway), the nickname next, the position last.
constexpr std::array<int, 18> kDropOrder = {13, 12, 5,  9,  8,  7, 6, 16, 17,
                                            15, 0,  10, 11, 14, 4, 2, 1,  3};

struct PropertyEntry {
  int index;
  std::string bytes;  // code byte and value
};

// Names the account in warnings; control bytes are shown as "?" so a log line stays one line.
std::string Label(const TServerAccount& account) {
  std::string name = account.Name.empty() ? std::string(kNoName) : account.Name;
  for (char& c : name) {
    if (static_cast<unsigned char>(c) < 32) c = '?';
  }
  return "account \"" + name + "\"";
}

bool RemoveLineFeeds(std::string& text) {
  const auto old_size = text.size();
  std::erase(text, '\n');
  return text.size() != old_size;
}

// Makes a text fit a field: line feeds left out, then cut to `limit` bytes.
std::string FitText(std::string text, std::size_t limit, const std::string& what,
                    std::vector<std::string>* warnings) {
  if (RemoveLineFeeds(text) && warnings) warnings->push_back(what + ": line feeds left out");
  if (text.size() > limit) {
    if (warnings)
      warnings->push_back(what + ": cut from " + std::to_string(text.size()) + " to " +
                          std::to_string(limit) + " bytes");
    text.resize(limit);
  }
  return text;
}

std::string FitProperties(const TServerAccount& account, std::vector<std::string>* warnings) {
  const std::string& text = account.Properties;
  if (text.size() <= kMaxRecordByteLength && text.find('\n') == std::string::npos) return text;
  const std::string what = Label(account) + " properties";
  auto warn = [&](const std::string& message) {
    if (warnings) warnings->push_back(what + ": " + message);
  };

  std::vector<PropertyEntry> entries;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const int index = static_cast<unsigned char>(text[pos]) - 32;
    std::size_t size = 0;
    if (index >= 0 && index < protocol::kPropertyCount) {
      const int width = ValueWidth(index);
      if (width > 0) {
        size = 1 + static_cast<std::size_t>(width);
      } else if (pos + 1 < text.size()) {
        size = 2 + static_cast<std::size_t>(
                       std::max(static_cast<unsigned char>(text[pos + 1]) - 32, 0));
      }
    }
    if (size == 0 || pos + size > text.size()) {
      warn("unreadable tail of " + std::to_string(text.size() - pos) + " bytes left out");
      break;
    }
    PropertyEntry entry{index, text.substr(pos, size)};
    pos += size;
    if (entry.bytes.find('\n') != std::string::npos) {
      if (ValueWidth(index) > 0) {
        warn("property " + std::to_string(index) + " holds a line feed and was left out");
        continue;
      }
      std::string value = entry.bytes.substr(2);
      RemoveLineFeeds(value);
      entry.bytes.resize(1);
      protocol::PutShortString(entry.bytes, value);
      warn("line feeds left out of property " + std::to_string(index));
    }
    entries.push_back(std::move(entry));
  }

  auto total = [&entries] {
    std::size_t sum = 0;
    for (const auto& e : entries) sum += e.bytes.size();
    return sum;
  };
  // Every entry's index is in the drop order, so this always ends within the limit.
  for (int index : kDropOrder) {
    for (;;) {
      if (total() <= kMaxRecordByteLength) break;
      const auto it = std::find_if(entries.rbegin(), entries.rend(),
                                   [index](const PropertyEntry& e) { return e.index == index; });
      if (it == entries.rend()) break;
      warn("property " + std::to_string(index) + " left out (" + std::to_string(it->bytes.size()) +
           " bytes) to fit the " + std::to_string(kMaxRecordByteLength) + "-byte limit");
      entries.erase(std::next(it).base());
    }
  }
  std::string out;
  for (const auto& e : entries) out += e.bytes;
  return out;
}

void PutDigit(std::string& out, std::size_t value) { out.push_back(static_cast<char>(value + 32)); }

void PutWord(std::string& out, std::size_t value) {
  protocol::PutNumber2(out, static_cast<int>(value));
}

// Writes a list with a count of at most `max_count` entries of at most `max_length` bytes.
std::vector<std::string> FitList(const std::vector<std::string>& list, std::size_t max_count,
                                 std::size_t max_length, bool drop_empty, const std::string& what,
                                 std::vector<std::string>* warnings) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < list.size(); ++i) {
    std::string entry =
        FitText(list[i], max_length, what + " entry " + std::to_string(i + 1), warnings);
    if (drop_empty && entry.empty()) continue;
    if (out.size() == max_count) {
      if (warnings)
        warnings->push_back(what + ": " + std::to_string(list.size() - i) + " entries beyond " +
                            std::to_string(max_count) + " left out");
      break;
    }
    out.push_back(std::move(entry));
  }
  return out;
}

}  // namespace

bool RecordHoldsHeader(std::string_view record) {
  std::size_t pos = 0;
  for (int field = 0; field < 3; ++field) {
    if (pos >= record.size()) return false;
    const int length = static_cast<unsigned char>(record[pos]) - 32;
    pos += 1 + static_cast<std::size_t>(std::max(length, 0));
  }
  return pos < record.size();  // room for the flags byte
}

void ParseAccountFields(std::string_view record, TServerAccount& account) {
  RecordReader reader(record);
  account.Name = reader.ShortField();
  account.Password = reader.ShortField();
  account.Properties = reader.ShortField();
  const int flags = reader.AtEnd() ? 0 : std::max(reader.Digit(), 0);
  account.LoadOnly = (flags & 1) != 0;
  account.Rights = (flags >> 1) & 7;
  account.Blocked = (flags & 16) != 0;
  account.ShortListA.clear();
  account.ShortListB.clear();
  account.LongList.clear();

  // The older place of the two short lists, still read.
  if (!reader.AtEnd()) ReadShortEntries(reader, reader.Digit(), account.ShortListA);
  if (!reader.AtEnd()) ReadShortEntries(reader, reader.Digit(), account.ShortListB);
  if (!reader.AtEnd()) {
    const int count = reader.Digit();
    for (int i = 0; i < count && reader.Remaining() >= 2; ++i) {
      std::string entry = reader.Take(reader.Word());
      if (!entry.empty()) account.LongList.push_back(std::move(entry));
    }
  }
  if (reader.Remaining() >= 2) ReadShortEntries(reader, reader.Word(), account.ShortListA);
  if (reader.Remaining() >= 2) ReadShortEntries(reader, reader.Word(), account.ShortListB);
}

std::string FormatAccountRecord(const TServerAccount& account, std::vector<std::string>* warnings) {
  const std::string label = Label(account);
  const std::string name = FitText(account.Name, kMaxRecordByteLength, label + " name", warnings);
  const std::string password =
      FitText(account.Password, kMaxRecordByteLength, label + " password", warnings);
  const std::string properties = FitProperties(account, warnings);
  int rights = account.Rights;
  if (rights < 0 || rights > 7) {
    rights = std::clamp(rights, 0, 7);
    if (warnings)
      warnings->push_back(label + ": rights " + std::to_string(account.Rights) + " written as " +
                          std::to_string(rights));
  }
  const auto long_list = FitList(account.LongList, kMaxRecordByteLength, kMaxRecordWordLength, true,
                                 label + " long list", warnings);
  const std::vector<std::string> list_a =
      FitList(account.ShortListA, kMaxRecordWordLength, kMaxRecordByteLength, false,
              label + " first short list", warnings);
  std::vector<std::string> list_b =
      FitList(account.ShortListB, kMaxRecordWordLength, kMaxRecordByteLength, false,
              label + " second short list", warnings);
  // A carriage return at the very end would be taken for part of a line end when read.
  if (!list_b.empty() && !list_b.back().empty() && list_b.back().back() == '\r') {
    while (!list_b.back().empty() && list_b.back().back() == '\r') list_b.back().pop_back();
    if (warnings) warnings->push_back(label + " second short list: final carriage return left out");
  }

  std::string out;
  PutDigit(out, name.size());
  out += name;
  PutDigit(out, password.size());
  out += password;
  PutDigit(out, properties.size());
  out += properties;
  PutDigit(out, (account.LoadOnly ? 1 : 0) + 2 * static_cast<std::size_t>(rights) +
                    (account.Blocked ? 16 : 0));
  out += "  ";  // the older places of the two short lists, always empty
  PutDigit(out, long_list.size());
  for (const auto& entry : long_list) {
    PutWord(out, entry.size());
    out += entry;
  }
  for (const auto& list : {std::cref(list_a), std::cref(list_b)}) {
    PutWord(out, list.get().size());
    for (const auto& entry : list.get()) {
      PutDigit(out, entry.size());
      out += entry;
    }
  }
  return out;
}

}  // namespace tarvo::server
