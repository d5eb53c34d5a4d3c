#include "client/game/input_state.h"

namespace tarvo::client {

void InputState::Press(GameKey key) {
  down_[Index(key)] = true;
  pressed_[Index(key)] = true;
}

void InputState::Release(GameKey key) { down_[Index(key)] = false; }

void InputState::ReleaseAll() { down_.fill(false); }

bool InputState::Query(GameKey key) {
  const bool result = down_[Index(key)] || pressed_[Index(key)];
  pressed_[Index(key)] = false;
  return result;
}

}  // namespace tarvo::client
