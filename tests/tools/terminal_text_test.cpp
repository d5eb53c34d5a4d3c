#include "tools/tarvo-bot/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvo::bot {
namespace {

TEST(TerminalText, EveryControlByteIsEscapedInLowercaseHex) {
  // ESC with a colour sequence, an OSC title ended by BEL, and the one-byte CSI.
  EXPECT_EQ(TerminalText("\x1b[31mred\x1b]0;title\x07 \x9b"
                         "2J"),
            "\\x1b[31mred\\x1b]0;title\\x07 \\x9b2J");
  EXPECT_EQ(TerminalText(std::string("\0\t\n\r\x1f", 5)), "\\x00\\x09\\x0a\\x0d\\x1f");
  EXPECT_EQ(TerminalText("\x7f\x80\x9f"), "\\x7f\\x80\\x9f");
}

TEST(TerminalText, PrintableLatin1StaysAndBecomesUtf8) {
  EXPECT_EQ(TerminalText(" ~plain \\x1b"), " ~plain \\x1b");
  // 0xA0 (no-break space), 0xE4 and 0xFF are letters, not controls.
  EXPECT_EQ(TerminalText("\xa0\xe4\xff"), "\xc2\xa0\xc3\xa4\xc3\xbf");
}

}  // namespace
}  // namespace tarvo::bot
