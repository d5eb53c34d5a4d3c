#pragma once

#include <cstdint>
#include <string>

namespace tarvo::client {

class TPlayer;

/// Engine objects of one player (avatar frame, part frames, animation set, shadow, name label,
/// level frame and faces). The 3D view subclasses it; a headless client never creates one.
class AvatarObjects {
 public:
  virtual ~AvatarObjects() = default;
};

/// The seam between a player and the 3D scene. The main window implements it over the engine;
/// without one (bots, tests) nothing is drawn and every call below is skipped. Every call is
/// made only while `Initialized()` holds. The view must outlive the avatars it made.
class AvatarView {
 public:
  virtual ~AvatarView() = default;
  /// Whether the 3D view is initialized; while it is not, players only store their values.
  virtual bool Initialized() const = 0;
  /// (Re)creates the avatar frame, the eight parts and the animation set at time 0.
  virtual void CreateAvatar(TPlayer& player) = 0;
  /// After the look replay: the shadow and walk-cycle callback (local player), the placement
  /// and the name label.
  virtual void FinishAvatar(TPlayer& player, bool local) = 0;
  /// Removes the avatar frame from the scene.
  virtual void DestroyAvatar(TPlayer& player) = 0;
  /// Places and orients the avatar frame; for the local player also the camera.
  virtual void PlaceAvatar(TPlayer& player, bool local) = 0;
  /// Sets the time of the avatar's animation set.
  virtual void SetAnimationTime(TPlayer& player, int time) = 0;
  /// Loads `file` as the body texture; false when it cannot be loaded.
  virtual bool SetBodyTexture(TPlayer& player, const std::string& file) = 0;
  /// Colours the mesh of part `part` (part-table order) with 0xRRGGBB.
  virtual void SetPartColour(TPlayer& player, int part, std::uint32_t colour) = 0;
  /// Redraws the nickname decal from the player's nickname.
  virtual void RedrawNameLabel(TPlayer& player) = 0;
};

/// Where chat lines go: the main window's chat overlay, a bot's counter.
class ChatDisplay {
 public:
  virtual ~ChatDisplay() = default;
  /// A player said something: "nickname: text".
  virtual void AddChatLine(const std::string& line) = 0;
};

}  // namespace tarvo::client
