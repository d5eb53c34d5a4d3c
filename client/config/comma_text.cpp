#include "client/config/comma_text.h"

#include <algorithm>

namespace tarvo::client {
namespace {

bool IsBlankOrControl(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= ' ';
}

bool NeedsQuotes(const std::string& item) {
  return std::any_of(item.begin(), item.end(), [](char c) {
    return static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"';
  });
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

std::string ToCommaText(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) {
      text += ',';
    }
    const std::string& item = items[i];
    // A lone empty item must still read back as one item; empty items among others stay bare
    // between their commas.
    if (NeedsQuotes(item) || (item.empty() && items.size() == 1)) {
      text += '"';
      for (const char c : item) {
        text += c;
        if (c == '"') {
          text += '"';
        }
      }
      text += '"';
    } else {
      text += item;
    }
  }
  return text;
}

std::vector<std::string> FromCommaText(std::string_view text) {
  // A zero byte ends the text, as it ends the edit field the text comes from.
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> items;
  std::size_t pos = 0;
  const auto skip_blanks = [&] {
    while (pos < text.size() && IsBlankOrControl(text[pos])) ++pos;
  };
  skip_blanks();
  while (pos < text.size()) {
    std::string item;
    if (text[pos] == '"') {
      // Quoted: up to the closing quote (or the end of an unterminated text).
      for (++pos; pos < text.size(); ++pos) {
        if (text[pos] == '"') {
          if (pos + 1 < text.size() && text[pos + 1] == '"') {
            item += '"';
            ++pos;
            continue;
          }
          ++pos;
          break;
        }
        item += text[pos];
      }
    } else {
      while (pos < text.size() && !IsBlankOrControl(text[pos]) && text[pos] != ',') {
        item += text[pos++];
      }
    }
    items.push_back(std::move(item));
    skip_blanks();
    if (pos < text.size() && text[pos] == ',') {
      ++pos;
      if (pos == text.size()) {
        items.emplace_back();  // A trailing comma closes an empty last item.
      }
      skip_blanks();
    }
  }
  return items;
}

std::vector<std::string> RememberServerAddress(std::vector<std::string> history,
                                               const std::string& address, std::size_t limit) {
  if (address.empty()) {
    return history;
  }
  std::erase_if(history, [&](const std::string& item) { return EqualIgnoringCase(item, address); });
  history.insert(history.begin(), address);
  if (history.size() > limit) {
    history.resize(limit);
  }
  return history;
}

}  // namespace tarvo::client
