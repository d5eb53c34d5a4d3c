#pragma once

#include <array>

namespace tarvo::client {

/// The keys the movement step reads: the numeric keypad's 0, 2, 4, 5, 6 and 8.
enum class GameKey { kPad0, kPad2, kPad4, kPad5, kPad6, kPad8 };
inline constexpr int kGameKeyCount = 6;

/// The keyboard as the movement step queries it, fed by key events (or a bot's script): a key
/// counts as down when it is down now or was pressed since the previous query of that key.
class InputState {
 public:
  /// The key went down.
  void Press(GameKey key);
  /// The key went up; a press since the last query still counts once.
  void Release(GameKey key);
  /// Lets go of every key (the window lost the keyboard).
  void ReleaseAll();
  /// Whether the key counts as down, and forgets the press since the previous query.
  bool Query(GameKey key);
  /// Whether the key is held now, without touching the press record.
  bool IsDown(GameKey key) const { return down_[Index(key)]; }

 private:
  static int Index(GameKey key) { return static_cast<int>(key); }
  std::array<bool, kGameKeyCount> down_{};
  std::array<bool, kGameKeyCount> pressed_{};
};

}  // namespace tarvo::client
