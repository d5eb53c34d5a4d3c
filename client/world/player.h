#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/world/avatar_view.h"

namespace tarvo::client {

class ClientWorld;

/// What one application of a property text did.
struct ApplyResult {
  /// Some of x, y, z or the view angle was applied (the avatar was placed anew).
  bool position_changed = false;
  /// The entry "S" destroyed the player: the caller must not touch it any more.
  bool removed = false;
};

/// One player as the client knows it: the local player or a remote one announced by the server.
/// Holds the player's properties as the protocol numbers them and keeps its avatar in step with
/// them through the world's `AvatarView`, when there is one.
class TPlayer {
 public:
  /// Number of properties the local player reports, one list slot each.
  static constexpr int kReportSlots = 15;

  /// A player of `world` with every field at its default.
  explicit TPlayer(ClientWorld& world);
  ~TPlayer();
  TPlayer(const TPlayer&) = delete;
  TPlayer& operator=(const TPlayer&) = delete;

  /// (Re)builds the avatar in the scene and replays the look that differs from the part
  /// meshes' own; does nothing while the 3D view is not initialized.
  void BuildAvatar();
  /// The value text of one property, without its code character. Codes 12 and 13 cut the
  /// nickname or chat text itself to 200 bytes; code 15 is the session's bound UDP port (three
  /// blanks without a session); codes outside 0 to 17 give an empty text.
  std::string EncodeProperty(int code);
  /// Applies a property text. `local` marks a change made on this client; remote data (server,
  /// UDP peers, the look replay) with `local` false is also recorded as already reported.
  ApplyResult ApplyProperties(std::string_view text, bool local);
  /// One entry (code character and value) per reportable property: codes 1 to 13, 15, 17.
  std::vector<std::string> PropertyList();
  /// The 9-character body of a movement datagram: x, y, z, heading and walk time back to back.
  std::string MovementBody();
  /// Sends the local player's changes since the last report: properties to the server, movement
  /// to the UDP peers. The first report after a session starts sends the look, nickname and UDP
  /// port. Does nothing without a session.
  void ReportChanges();

  /// The list slot of a reportable code, or -1 (codes 0, 14, 16 and unknown codes).
  static int PropertySlot(int code);
  /// Whether this is the world's local player.
  bool IsLocal() const;
  ClientWorld& world() const { return world_; }

  std::int32_t Id = -1;
  double X = 0, Y = 0, Z = 0;
  /// Facing in degrees.
  double Angle = 0;
  /// Walk-cycle time, 0 to 40.
  std::int32_t AnimTime = 0;
  std::string BodyMesh = "body.x";
  std::string HeadMesh = "head.x";
  std::string BodyTex = "body.bmp";
  /// Stored and reported, not drawn.
  std::string HeadTex = "man.bmp";
  std::uint32_t ArmColor = 0xFF0000;
  std::uint32_t ShoeColor = 0x800000;
  std::string Nickname;
  std::string ChatText;
  std::string LevelFile = "level1.x";
  /// UDP port of the player's client; 0 for none.
  std::int32_t ClientPort = 0;
  /// IPv4 address of the player's client as the server reports it (first octet in the low byte).
  std::uint32_t ClientAddress = 0;
  std::uint32_t HandColor = 0xFDCC47;

  // Movement state of the local player.
  std::int32_t JumpStep = 0;
  bool Jumping = false;
  bool Rising = true;
  bool JumpKeyHeld = false;
  /// Walking direction kept while only the back key is held.
  std::array<float, 3> BackDir{};
  bool BackLatched = false;
  bool CameraFrozen = false;
  bool CameraKeyHeld = false;
  std::int32_t WalkTicks = 0;
  /// 0 standing, 1 walking, 2 airborne.
  std::int32_t AnimState = 0;

  /// Local player only: the entries as last reported; absent until the first report of a
  /// session.
  std::optional<std::vector<std::string>> SentProps;

  /// The engine objects of this player (frames, animation, shadow, label, level faces); owned
  /// here, made and used only by the world's `AvatarView`. Null while headless.
  std::unique_ptr<AvatarObjects> avatar_objects;

 private:
  AvatarView* ActiveView() const;
  void ApplyColour(std::uint32_t& field, std::uint32_t value, int part_a, int part_b);

  ClientWorld& world_;
};

}  // namespace tarvo::client
