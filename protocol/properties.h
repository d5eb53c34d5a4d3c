#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::protocol {

/// How a property's value is written after its code byte.
enum class PropertyEncoding {
  kByteNumber,
  kNumber2,
  kNumber3,
  kAddress,
  kColour,
  kCoordinate,
  kAngle,
  kShortString
};

/// Which players the server relays a property change to.
enum class RelayClass {
  kLevel,     ///< every other player of the level; remembered for players elsewhere
  kMovement,  ///< other players of the level unless both sides exchange it over UDP
};

/// Indices of the 18 player properties; the code byte on the wire is index + 32.
enum PropertyIndex : int {
  kPropPlayerId = 0,
  kPropX = 1,
  kPropY = 2,
  kPropZ = 3,
  kPropViewAngle = 4,
  kPropAnimationTime = 5,
  kPropBodyMesh = 6,
  kPropHeadMesh = 7,
  kPropBodyTexture = 8,
  kPropHeadTexture = 9,
  kPropArmColour = 10,
  kPropShoeColour = 11,
  kPropNickname = 12,
  kPropChatText = 13,
  kPropLevelName = 14,
  kPropUdpPort = 15,
  kPropAddress = 16,
  kPropHandColour = 17,
};

inline constexpr int kPropertyCount = 18;
/// Server-only entries of message 2: level presence ("R", one value byte) and player removed
/// ("S", no value, always last).
inline constexpr char kLevelPresenceCode = 'R';
inline constexpr char kPlayerRemovedCode = 'S';
/// Nicknames and chat texts are cut to this many bytes before they are written.
inline constexpr std::size_t kMaxPlayerText = 200;

/// One row of the property table: wire form, server default and the subsets it belongs to.
struct PropertyInfo {
  int index;
  std::string_view name;
  PropertyEncoding encoding;
  int width;  ///< bytes of the value; 0 for a short string (1 + n)
  double default_number;
  std::string_view default_text;
  bool client_reports;  ///< sent by the player client in message 1 when changed
  bool udp_movement;    ///< part of the 9-byte UDP movement body
  RelayClass relay;
  bool relay_all_players;    ///< also sent at once to every connected player
  bool saved_in_account;     ///< written into the account's property text
  bool taken_from_account;   ///< pushed to a connected player when its account is edited
  bool own_set_after_login;  ///< in message 3 right after login
  std::size_t max_text;      ///< longest text written (0: no limit beyond the short string)

  char code() const { return static_cast<char>(index + 32); }
  bool is_text() const { return encoding == PropertyEncoding::kShortString; }
};

/// The property table, indexed by property index.
extern const std::array<PropertyInfo, kPropertyCount> kProperties;

/// Order in which the client sends its first property report after connecting.
inline constexpr std::array<int, 8> kFirstReportOrder = {6, 7, 8, 9, 10, 11, 12, 15};
/// Order of the five values of a UDP movement body.
inline constexpr std::array<int, 5> kUdpMovementOrder = {1, 2, 3, 4, 5};
/// Codes stored in an account's property text, ascending.
inline constexpr std::array<int, 16> kAccountStoredOrder = {1, 2,  3,  4,  5,  6,  7,  8,
                                                            9, 10, 11, 12, 13, 14, 16, 17};

/// The values of one player's 18 properties. Numbers (coordinates, angles, colours, ports,
/// addresses, ids) are held as doubles, which hold every encodable value exactly; texts apart.
class PropertySet {
 public:
  /// The server defaults, with the given player id and address.
  explicit PropertySet(int player_id = 0, std::uint32_t address = 0);

  double Number(int index) const { return numbers_[index]; }
  const std::string& Text(int index) const { return texts_[index]; }
  void SetNumber(int index, double value) { numbers_[index] = value; }
  void SetText(int index, std::string_view value) { texts_[index] = std::string(value); }

  /// Whether both sets would write the same entry for `index` (values that encode alike, such as
  /// coordinates 0.7 and 0.9, count as equal).
  bool SameOnWire(int index, const PropertySet& other) const;

 private:
  std::array<double, kPropertyCount> numbers_{};
  std::array<std::string, kPropertyCount> texts_;
};

/// Appends the entry for `index`: code byte and encoded value. Nicknames and chat texts are cut
/// to 200 bytes.
void PutEntry(std::string& out, int index, const PropertySet& values);
/// Appends an entry from a raw value (numbers for numeric properties, text for text ones).
void PutEntry(std::string& out, int index, double number, std::string_view text = {});
/// Appends a level-presence entry ("R" then "!" or " ").
void PutLevelPresence(std::string& out, bool present);
/// Appends the player-removed entry ("S").
void PutPlayerRemoved(std::string& out);
/// The entries for each index in `indices`, in that order.
template <typename Indices>
std::string EncodeEntries(const PropertySet& values, const Indices& indices) {
  std::string out;
  for (int index : indices) PutEntry(out, index, values);
  return out;
}
/// The entries of all 18 properties in index order.
std::string EncodeAllEntries(const PropertySet& values);

/// Which side reads a property message: they stop on different conditions.
enum class EntrySide {
  kServer,  ///< stops when fewer than 2 bytes remain; "R"/"S" are invalid codes
  kClient,  ///< stops when no byte remains; understands "R" and "S"
};

/// One decoded entry.
struct PropertyEntry {
  enum class Kind { kProperty, kLevelPresence, kPlayerRemoved };
  Kind kind = Kind::kProperty;
  int index = 0;          ///< property index for kProperty
  double number = 0;      ///< numeric value; for kLevelPresence the value byte minus 32
  std::string_view text;  ///< text value of text properties
};

/// Result of reading the next entry.
enum class EntryStatus {
  kEntry,        ///< `entry` holds the next entry
  kEnd,          ///< the message ended normally (or its tail was too short to hold a value)
  kInvalidCode,  ///< a code outside the table: the whole message stops here
};

/// Reads a property message entry by entry from the start. Values that would run past the end
/// end the message (kEnd) instead of reading beyond it.
class EntryReader {
 public:
  EntryReader(std::string_view data, EntrySide side) : data_(data), side_(side) {}
  EntryStatus Next(PropertyEntry& entry);
  /// Bytes consumed so far.
  std::size_t position() const { return pos_; }

 private:
  std::string_view data_;
  EntrySide side_;
  std::size_t pos_ = 0;
};

/// Stores a decoded property entry's value into `values`.
void StoreEntry(PropertySet& values, const PropertyEntry& entry);

/// Cuts a nickname or chat text to 200 bytes.
std::string_view CutPlayerText(std::string_view text);

}  // namespace tarvo::protocol
