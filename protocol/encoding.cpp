#include "protocol/encoding.h"

#include <algorithm>
#include <cmath>

namespace tarvo::protocol {
namespace {

char Digit(std::uint32_t value) { return static_cast<char>(value + 32); }

int Clamp(int value, int max) { return std::clamp(value, 0, max); }

int Raw(const char* p) { return static_cast<unsigned char>(*p) - 32; }

}  // namespace

void PutByteNumber(std::string& out, int value) {
  out.push_back(Digit(Clamp(value, kMaxByteNumber)));
}

void PutNumber2(std::string& out, int value) {
  const std::uint32_t v = Clamp(value, kMaxNumber2);
  out.push_back(Digit(v >> 7));
  out.push_back(Digit(v & 127));
}

void PutNumber3(std::string& out, int value) {
  const std::uint32_t v = Clamp(value, kMaxNumber3);
  out.push_back(Digit(v >> 14));
  out.push_back(Digit((v >> 7) & 127));
  out.push_back(Digit(v & 127));
}

void PutNumber4(std::string& out, int value) {
  const std::uint32_t v = Clamp(value, kMaxNumber4);
  out.push_back(Digit(v >> 21));
  out.push_back(Digit((v >> 14) & 127));
  out.push_back(Digit((v >> 7) & 127));
  out.push_back(Digit(v & 127));
}

void PutAddress(std::string& out, std::uint32_t v) {
  out.push_back(Digit(v >> 28));
  out.push_back(Digit((v >> 21) & 127));
  out.push_back(Digit((v >> 14) & 127));
  out.push_back(Digit((v >> 7) & 127));
  out.push_back(Digit(v & 127));
}

void PutColour(std::string& out, std::uint32_t value) {
  const std::uint32_t v = value & 0xFFFFFF;
  out.push_back(Digit(v >> 18));
  out.push_back(Digit((v >> 12) & 63));
  out.push_back(Digit((v >> 6) & 63));
  out.push_back(Digit(v & 63));
}

void PutCoordinate(std::string& out, double x) {
  if (std::isnan(x)) x = 0;
  x = std::clamp(x, kMinCoordinate, kMaxCoordinate);
  PutNumber2(out, static_cast<int>(std::trunc(2 * x)) + 8000);
}

void PutAngle(std::string& out, double degrees) {
  if (std::isnan(degrees)) degrees = 0;
  degrees = std::clamp(degrees, 0.0, 2.0 * kMaxByteNumber + 1);
  PutByteNumber(out, static_cast<int>(std::trunc(degrees / 2)));
}

bool PutShortString(std::string& out, std::string_view text) {
  const bool fits = text.size() <= kMaxShortString;
  if (!fits) text = text.substr(0, kMaxShortString);
  PutByteNumber(out, static_cast<int>(text.size()));
  out.append(text);
  return fits;
}

int DecodeByteNumber(const char* p) { return Raw(p); }

int DecodeNumber2(const char* p) { return Raw(p) * 128 + Raw(p + 1); }

int DecodeNumber3(const char* p) { return Raw(p) * 16384 + Raw(p + 1) * 128 + Raw(p + 2); }

int DecodeNumber4(const char* p) {
  return Raw(p) * 2097152 + Raw(p + 1) * 16384 + Raw(p + 2) * 128 + Raw(p + 3);
}

std::uint32_t DecodeAddress(const char* p) {
  // Unsigned arithmetic: the top digit may carry bits past 32, as the sender's would.
  return static_cast<std::uint32_t>(Raw(p)) * (1u << 28) +
         static_cast<std::uint32_t>(Raw(p + 1)) * (1u << 21) +
         static_cast<std::uint32_t>(Raw(p + 2)) * (1u << 14) +
         static_cast<std::uint32_t>(Raw(p + 3)) * 128u + static_cast<std::uint32_t>(Raw(p + 4));
}

std::uint32_t DecodeColour(const char* p) {
  return static_cast<std::uint32_t>(Raw(p)) * (1u << 18) +
         static_cast<std::uint32_t>(Raw(p + 1)) * 4096u +
         static_cast<std::uint32_t>(Raw(p + 2)) * 64u + static_cast<std::uint32_t>(Raw(p + 3));
}

double DecodeCoordinate(const char* p) { return (DecodeNumber2(p) - 8000) / 2.0; }

double DecodeAngle(const char* p) { return Raw(p) * 2.0; }

const char* PayloadReader::Take(std::size_t n) {
  if (!ok_ || remaining() < n) {
    ok_ = false;
    return nullptr;
  }
  const char* p = data_.data() + pos_;
  pos_ += n;
  return p;
}

int PayloadReader::ByteNumber() {
  const char* p = Take(1);
  return p ? DecodeByteNumber(p) : 0;
}
int PayloadReader::Number2() {
  const char* p = Take(2);
  return p ? DecodeNumber2(p) : 0;
}
int PayloadReader::Number3() {
  const char* p = Take(3);
  return p ? DecodeNumber3(p) : 0;
}
int PayloadReader::Number4() {
  const char* p = Take(4);
  return p ? DecodeNumber4(p) : 0;
}
std::uint32_t PayloadReader::Address() {
  const char* p = Take(5);
  return p ? DecodeAddress(p) : 0;
}
std::uint32_t PayloadReader::Colour() {
  const char* p = Take(4);
  return p ? DecodeColour(p) : 0;
}
double PayloadReader::Coordinate() {
  const char* p = Take(2);
  return p ? DecodeCoordinate(p) : 0;
}
double PayloadReader::Angle() {
  const char* p = Take(1);
  return p ? DecodeAngle(p) : 0;
}

std::string_view PayloadReader::ShortString() {
  if (!ok_ || AtEnd()) {
    ok_ = false;
    return {};
  }
  const int n = DecodeByteNumber(data_.data() + pos_);
  if (n < 0 || static_cast<std::size_t>(n) + 1 > remaining()) {
    ok_ = false;
    return {};
  }
  ++pos_;
  return Fixed(static_cast<std::size_t>(n));
}

std::string_view PayloadReader::Fixed(std::size_t n) {
  const char* p = Take(n);
  return p ? std::string_view(p, n) : std::string_view();
}

std::string_view PayloadReader::Rest() {
  if (!ok_) return {};
  std::string_view rest = data_.substr(pos_);
  pos_ = data_.size();
  return rest;
}

std::string ToParagraphMarks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(c == '\n' ? kParagraphMark : c);
  }
  return out;
}

std::string ExpandParagraphMarks(std::string_view text) {
  std::string out(text);
  std::replace(out.begin(), out.end(), kParagraphMark, '\n');
  return out;
}

}  // namespace tarvo::protocol
