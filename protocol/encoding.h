#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo::protocol {

/// Value encodings of the wire and of the accounts file. Every digit is a byte holding a value
/// plus 32. Writers append to `out`; a value outside an encoding's range is clamped to it, so a
/// written field always has its fixed width and never carries a byte below 32.

inline constexpr int kMaxByteNumber = 223;
inline constexpr int kMaxNumber2 = 16383;
inline constexpr int kMaxNumber3 = 2097151;
inline constexpr int kMaxNumber4 = 268435455;
inline constexpr std::size_t kMaxShortString = 223;
inline constexpr double kMinCoordinate = -4000.0;
inline constexpr double kMaxCoordinate = 4191.5;

void PutByteNumber(std::string& out, int value);
void PutNumber2(std::string& out, int value);
void PutNumber3(std::string& out, int value);
void PutNumber4(std::string& out, int value);
/// A 32-bit IPv4 address as it lies in a socket address: first octet in the low byte.
void PutAddress(std::string& out, std::uint32_t value);
/// 0x00RRGGBB in four 6-bit digits.
void PutColour(std::string& out, std::uint32_t value);
/// 2-digit number of trunc(2x) + 8000.
void PutCoordinate(std::string& out, double x);
/// Byte number of trunc(degrees / 2).
void PutAngle(std::string& out, double degrees);
/// Length byte, then the text. A text longer than 223 bytes is cut to 223 so the frame stays
/// readable; returns false when it had to cut.
bool PutShortString(std::string& out, std::string_view text);

/// Decoders: each byte minus 32, no range check (a byte below 32 yields a negative digit).
/// `p` must point at the encoding's full width.
int DecodeByteNumber(const char* p);
int DecodeNumber2(const char* p);
int DecodeNumber3(const char* p);
int DecodeNumber4(const char* p);
std::uint32_t DecodeAddress(const char* p);
std::uint32_t DecodeColour(const char* p);
double DecodeCoordinate(const char* p);
double DecodeAngle(const char* p);

/// Bounds-checked cursor over a payload. A read past the end returns a zero value, consumes
/// nothing and clears `ok()` for good, so a parser can read every field and check once.
class PayloadReader {
 public:
  explicit PayloadReader(std::string_view data) : data_(data) {}

  bool ok() const { return ok_; }
  std::size_t remaining() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ >= data_.size(); }
  std::size_t position() const { return pos_; }

  int ByteNumber();
  int Number2();
  int Number3();
  int Number4();
  std::uint32_t Address();
  std::uint32_t Colour();
  double Coordinate();
  double Angle();
  /// A length byte and that many bytes; fails when the text would run past the end.
  std::string_view ShortString();
  /// Exactly `n` bytes.
  std::string_view Fixed(std::size_t n);
  /// Everything that is left (possibly empty); never fails.
  std::string_view Rest();

 private:
  const char* Take(std::size_t n);

  std::string_view data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

/// Line breaks inside message and level texts travel as the byte 167.
inline constexpr char kParagraphMark = static_cast<char>(167);
/// Every line feed becomes the paragraph mark (carriage returns before it are dropped).
std::string ToParagraphMarks(std::string_view text);
/// Every paragraph mark becomes a line feed.
std::string ExpandParagraphMarks(std::string_view text);

}  // namespace tarvo::protocol
