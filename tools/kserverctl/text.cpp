#include "tools/kserverctl/text.h"

#include <cmath>
#include <cstdio>

namespace tarvo::kserverctl {
namespace {

void AppendUtf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Decodes one UTF-8 sequence at `i`; returns the code point and advances, or -1 when the bytes
// are not well-formed UTF-8.
long NextCodePoint(std::string_view text, std::size_t& i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned lead = byte(i);
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  int extra = 0;
  unsigned code = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    code = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    code = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    code = lead & 0x07;
  } else {
    return -1;
  }
  if (i + extra >= text.size()) return -1;
  for (int k = 1; k <= extra; ++k) {
    const unsigned b = byte(i + k);
    if ((b & 0xC0) != 0x80) return -1;
    code = (code << 6) | (b & 0x3F);
  }
  static constexpr unsigned kMinimum[] = {0, 0x80, 0x800, 0x10000};
  if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return -1;
  i += 1 + extra;
  return code;
}

}  // namespace

std::string Latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) AppendUtf8(out, static_cast<unsigned char>(c));
  return out;
}

std::string Utf8ToLatin1(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const long code = NextCodePoint(text, i);
    if (code < 0) return std::string(text);
    out.push_back(code <= 0xFF ? static_cast<char>(code) : '?');
  }
  return out;
}

std::string Printable(std::string_view wire_text) {
  std::string out;
  out.reserve(wire_text.size());
  for (char c : wire_text) {
    const auto b = static_cast<unsigned char>(c);
    // C0 and C1 controls and DEL would reach the terminal as commands.
    AppendUtf8(out, (b < 0x20 || (b >= 0x7F && b < 0xA0)) ? '?' : b);
  }
  return out;
}

std::string JsonQuote(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (b < 0x20 || b == 0x7F) {
          char buffer[8];
          std::snprintf(buffer, sizeof buffer, "\\u%04x", b);
          out += buffer;
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string FormatNumber(double value) {
  if (!std::isfinite(value)) return "0";
  char buffer[32];
  if (value == std::floor(value) && std::fabs(value) < 1e15) {
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.10g", value);
  }
  std::string out = buffer;
  if (out == "-0") out = "0";
  return out;
}

void JsonWriter::BeforeValue() {
  if (need_comma_) out_.push_back(',');
  need_comma_ = true;
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_.push_back('{');
  need_comma_ = false;
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  out_.push_back('}');
  need_comma_ = true;
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  out_.push_back('[');
  need_comma_ = false;
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  out_.push_back(']');
  need_comma_ = true;
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  BeforeValue();
  out_ += JsonQuote(key);
  out_.push_back(':');
  need_comma_ = false;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view value) {
  BeforeValue();
  out_ += JsonQuote(value);
  return *this;
}

JsonWriter& JsonWriter::WireString(std::string_view value) { return String(Latin1ToUtf8(value)); }

JsonWriter& JsonWriter::Number(double value) {
  BeforeValue();
  out_ += FormatNumber(value);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
  return *this;
}

}  // namespace tarvo::kserverctl
