#pragma once

#include <string>
#include <string_view>

namespace tarvo::kserverctl {

/// Texts on the wire (names, levels, messages) are Latin-1 bytes, as the game client and the
/// operator windows read them; the terminal and JSON speak UTF-8.

/// Every byte as the Latin-1 character it stands for, in UTF-8.
std::string Latin1ToUtf8(std::string_view text);
/// UTF-8 text as Latin-1 bytes; characters beyond Latin-1 become "?". Text that is not valid
/// UTF-8 is taken as bytes unchanged.
std::string Utf8ToLatin1(std::string_view text);
/// A wire text made safe to print: UTF-8, control characters shown as "?" so a name cannot
/// move the cursor or recolour the terminal.
std::string Printable(std::string_view wire_text);

/// A small writer of compact JSON. Strings given to it are UTF-8.
class JsonWriter {
 public:
  /// `{`, `}`, `[`, `]`; commas are placed automatically.
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  /// An object member's name; the next value belongs to it.
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view value);
  /// A wire (Latin-1) text as a JSON string.
  JsonWriter& WireString(std::string_view value);
  /// Integers print without a fraction, other numbers with the digits they need.
  JsonWriter& Number(double value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  const std::string& text() const { return out_; }

 private:
  void BeforeValue();

  std::string out_;
  bool need_comma_ = false;
};

/// The JSON string literal of UTF-8 text, quotes included.
std::string JsonQuote(std::string_view utf8);
/// A number as people and JSON read it: "12", "10.5", "-0.5".
std::string FormatNumber(double value);

}  // namespace tarvo::kserverctl
