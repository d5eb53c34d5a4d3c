#include "protocol/properties.h"

#include "protocol/encoding.h"

namespace tarvo::protocol {
namespace {

using E = PropertyEncoding;
using R = RelayClass;

}  // namespace

// index, name, encoding, width, default number, default text, client reports, udp movement,
// relay, all players, saved in account, taken from edited account, own set after login, max text
const std::array<PropertyInfo, kPropertyCount> kProperties = {{
    {0, "player id", E::kByteNumber, 1, 0, "", false, false, R::kLevel, false, false, false, true,
     0},
    {1, "x", E::kCoordinate, 2, 0, "", true, true, R::kMovement, false, true, true, true, 0},
    {2, "y", E::kCoordinate, 2, 0, "", true, true, R::kMovement, false, true, true, true, 0},
    {3, "z", E::kCoordinate, 2, 0, "", true, true, R::kMovement, false, true, true, true, 0},
    {4, "view angle", E::kAngle, 1, 270, "", true, true, R::kMovement, false, true, true, true, 0},
    {5, "animation time", E::kNumber2, 2, 0, "", true, true, R::kMovement, false, true, true, true,
     0},
    {6, "body mesh", E::kShortString, 0, 0, "body.x", true, false, R::kLevel, false, true, true,
     false, 0},
    {7, "head mesh", E::kShortString, 0, 0, "head.x", true, false, R::kLevel, false, true, true,
     false, 0},
    {8, "body texture", E::kShortString, 0, 0, "body.bmp", true, false, R::kLevel, false, true,
     true, false, 0},
    {9, "head texture", E::kShortString, 0, 0, "man.bmp", true, false, R::kLevel, false, true, true,
     false, 0},
    {10, "arm colour", E::kColour, 4, 0xFF0000, "", true, false, R::kLevel, false, true, true,
     false, 0},
    {11, "shoe colour", E::kColour, 4, 0x800000, "", true, false, R::kLevel, false, true, true,
     false, 0},
    {12, "nickname", E::kShortString, 0, 0, "", true, false, R::kLevel, true, true, false, false,
     kMaxPlayerText},
    {13, "chat text", E::kShortString, 0, 0, "", true, false, R::kMovement, false, true, false,
     false, kMaxPlayerText},
    {14, "level name", E::kShortString, 0, 0, "startlevel.x", false, false, R::kLevel, false, true,
     false, false, 0},
    {15, "UDP port", E::kNumber3, 3, 0, "", true, false, R::kLevel, true, false, false, false, 0},
    {16, "address", E::kAddress, 5, 0, "", false, false, R::kLevel, false, true, false, false, 0},
    {17, "hand colour", E::kColour, 4, 0xFDCC47, "", true, false, R::kLevel, false, true, true,
     false, 0},
}};

PropertySet::PropertySet(int player_id, std::uint32_t address) {
  for (const PropertyInfo& info : kProperties) {
    numbers_[info.index] = info.default_number;
    texts_[info.index] = std::string(info.default_text);
  }
  numbers_[kPropPlayerId] = player_id;
  numbers_[kPropAddress] = address;
}

bool PropertySet::SameOnWire(int index, const PropertySet& other) const {
  std::string mine;
  std::string theirs;
  PutEntry(mine, index, *this);
  PutEntry(theirs, index, other);
  return mine == theirs;
}

std::string_view CutPlayerText(std::string_view text) {
  return text.size() > kMaxPlayerText ? text.substr(0, kMaxPlayerText) : text;
}

void PutEntry(std::string& out, int index, double number, std::string_view text) {
  if (index < 0 || index >= kPropertyCount) return;
  const PropertyInfo& info = kProperties[index];
  out.push_back(info.code());
  switch (info.encoding) {
    case E::kByteNumber:
      PutByteNumber(out, static_cast<int>(number));
      break;
    case E::kNumber2:
      PutNumber2(out, static_cast<int>(number));
      break;
    case E::kNumber3:
      PutNumber3(out, static_cast<int>(number));
      break;
    case E::kAddress:
      PutAddress(out, static_cast<std::uint32_t>(static_cast<std::int64_t>(number)));
      break;
    case E::kColour:
      PutColour(out, static_cast<std::uint32_t>(static_cast<std::int64_t>(number)));
      break;
    case E::kCoordinate:
      PutCoordinate(out, number);
      break;
    case E::kAngle:
      PutAngle(out, number);
      break;
    case E::kShortString:
      PutShortString(out, info.max_text > 0 && text.size() > info.max_text
                              ? text.substr(0, info.max_text)
                              : text);
      break;
  }
}

void PutEntry(std::string& out, int index, const PropertySet& values) {
  if (index < 0 || index >= kPropertyCount) return;
  PutEntry(out, index, values.Number(index), values.Text(index));
}

void PutLevelPresence(std::string& out, bool present) {
  out.push_back(kLevelPresenceCode);
  out.push_back(present ? '!' : ' ');
}

void PutPlayerRemoved(std::string& out) { out.push_back(kPlayerRemovedCode); }

std::string EncodeAllEntries(const PropertySet& values) {
  std::string out;
  for (int i = 0; i < kPropertyCount; ++i) PutEntry(out, i, values);
  return out;
}

EntryStatus EntryReader::Next(PropertyEntry& entry) {
  const std::size_t left = data_.size() - pos_;
  if (side_ == EntrySide::kServer ? left < 2 : left < 1) return EntryStatus::kEnd;
  const char code = data_[pos_];
  entry = PropertyEntry{};
  if (side_ == EntrySide::kClient && code == kPlayerRemovedCode) {
    entry.kind = PropertyEntry::Kind::kPlayerRemoved;
    pos_ += 1;
    return EntryStatus::kEntry;
  }
  if (side_ == EntrySide::kClient && code == kLevelPresenceCode) {
    if (left < 2) return EntryStatus::kEnd;
    entry.kind = PropertyEntry::Kind::kLevelPresence;
    entry.number = DecodeByteNumber(data_.data() + pos_ + 1);
    pos_ += 2;
    return EntryStatus::kEntry;
  }
  const int index = static_cast<unsigned char>(code) - 32;
  if (index < 0 || index >= kPropertyCount) return EntryStatus::kInvalidCode;
  const PropertyInfo& info = kProperties[index];
  PayloadReader reader(data_.substr(pos_ + 1));
  entry.index = index;
  switch (info.encoding) {
    case E::kByteNumber:
      entry.number = reader.ByteNumber();
      break;
    case E::kNumber2:
      entry.number = reader.Number2();
      break;
    case E::kNumber3:
      entry.number = reader.Number3();
      break;
    case E::kAddress:
      entry.number = reader.Address();
      break;
    case E::kColour:
      entry.number = reader.Colour();
      break;
    case E::kCoordinate:
      entry.number = reader.Coordinate();
      break;
    case E::kAngle:
      entry.number = reader.Angle();
      break;
    case E::kShortString:
      entry.text = reader.ShortString();
      break;
  }
  // A value cut off by the end of the message ends it; nothing past the data is read.
  if (!reader.ok()) {
    pos_ = data_.size();
    return EntryStatus::kEnd;
  }
  pos_ += 1 + reader.position();
  return EntryStatus::kEntry;
}

void StoreEntry(PropertySet& values, const PropertyEntry& entry) {
  if (entry.kind != PropertyEntry::Kind::kProperty) return;
  if (kProperties[entry.index].is_text()) {
    values.SetText(entry.index, entry.text);
  } else {
    values.SetNumber(entry.index, entry.number);
  }
}

}  // namespace tarvo::protocol
