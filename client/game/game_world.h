#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <glm/vec3.hpp>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/avatar/part_table.h"
#include "client/game/collision.h"
#include "client/game/input_state.h"
#include "client/game/remote_track.h"
#include "client/world/avatar_view.h"
#include "client/world/client_world.h"
#include "engine/scene/light.h"
#include "engine/scene/scene.h"
#include "engine/scene/shadow.h"

namespace tarvo::client {

/// A nickname decal drawn by the 3D view's 2D drawing. A headless world has none.
class NameLabel {
 public:
  virtual ~NameLabel() = default;
  /// The decal texture shown over the avatar.
  virtual std::shared_ptr<engine::Texture> texture() const = 0;
  /// Clears the picture and draws `text` anew, centred; the texture takes the new pixels.
  virtual void Redraw(const std::string& text) = 0;
};

/// Makes nickname decals; the main window gives one, bots and unit tests need none.
class LabelMaker {
 public:
  virtual ~LabelMaker() = default;
  /// A decal showing `text` (" " when empty) over a frame, for a requested width and a height
  /// in world units above the frame's origin; null when it cannot be made.
  virtual std::unique_ptr<NameLabel> MakeNameLabel(const std::string& text, int width,
                                                   int height) = 0;
};

/// The engine objects of one player's avatar.
struct AvatarEngineObjects : AvatarObjects {
  std::shared_ptr<engine::Frame> frame;
  std::array<Part, kPartCount> parts;
  std::shared_ptr<engine::AnimationSet> anim_set;
  /// Local player only: the still snapshot of the avatar its shadow is cast from.
  std::shared_ptr<engine::Mesh> shadow_mesh;
  std::shared_ptr<engine::Shadow> shadow;
  std::unique_ptr<NameLabel> label;
  /// Remote players, when drawing is smoothed: the poses received, by time of arrival.
  RemoteTrack track;
};

/// Choices of the program that runs a world.
struct GameWorldOptions {
  /// Build avatars for remote players. Bots never look at them and skip their cost.
  bool remote_avatars = true;
  /// Keep what drawing frames between ticks needs: the last two tick states of the local
  /// avatar and camera, and the received poses of remote avatars. Bots draw nothing and skip it.
  bool smooth_drawing = false;
};

/// The whole game simulation of one client without its widgets: the engine scene with its
/// lights and camera, the level and its collision, every avatar, the local player's movement,
/// the camera follow, the chat lines and the tick that drives the session. The main window
/// adds drawing; a bot runs it as it is.
class GameWorld final : public AvatarView, public ChatDisplay {
 public:
  /// A chat line lives this many ticks (ten seconds at 50 ms per tick).
  static constexpr int kChatLineTicks = 200;
  /// One tick of the simulation.
  static constexpr std::chrono::milliseconds kTickInterval{50};
  /// Distance the camera follow keeps from the avatar.
  static constexpr float kCameraDistance = 220.0f;
  /// Where the camera starts.
  static constexpr glm::vec3 kStartCameraPos{0.0f, 80.0f, -100.0f};

  /// A world whose meshes and textures come through `loader` (kept, may be null: then
  /// nothing loads).
  explicit GameWorld(engine::Loader* loader, GameWorldOptions options = {});
  ~GameWorld() override;
  GameWorld(const GameWorld&) = delete;
  GameWorld& operator=(const GameWorld&) = delete;

  /// The players and the session link.
  ClientWorld& world() { return world_; }
  TPlayer& LocalPlayer() { return world_.LocalPlayer(); }
  /// The engine scene; the same object for the world's whole life.
  engine::Scene& scene() { return scene_; }
  /// The keyboard the movement step reads.
  InputState& input() { return input_; }

  /// Draws the scene at the end of each engine step (none: nothing is drawn).
  void SetRenderer(engine::Renderer* renderer) { scene_.SetRenderer(renderer); }
  /// Makes nickname decals (none: avatars have no label).
  void SetLabelMaker(LabelMaker* maker) { label_maker_ = maker; }
  /// Decides which leg a walk starts with: true for time 20, false for 0.
  void SetRandomSource(std::function<bool()> second_leg) { second_leg_ = std::move(second_leg); }
  /// Replaces the collision over the level's faces, keeping the faces.
  void SetCollider(std::unique_ptr<LevelCollider> collider);
  /// The time frames and arrivals are measured with (steady_clock unless replaced).
  void SetClock(std::function<std::chrono::steady_clock::time_point()> clock) {
    clock_ = std::move(clock);
  }
  /// Also told of every chat line as it is added.
  void SetChatListener(std::function<void(const std::string&)> listener) {
    chat_listener_ = std::move(listener);
  }

  /// True while the chat line owns the keyboard: movement keys do not count.
  bool ChatMode() const { return chat_mode_; }
  void SetChatMode(bool on) { chat_mode_ = on; }
  /// While held, ticks leave the session alone (it is being created and may show a message
  /// box whose own ticks must not reach it).
  void HoldSession(bool hold) { session_held_ = hold; }
  /// Movement keys count only while the application is active.
  void SetApplicationActive(bool active) { active_ = active; }

  /// Builds the scene from the current state: part table, lights, the local player's level
  /// with every avatar, the camera at `CameraPos` looking at the avatar, back clipping and
  /// background.
  void Initialize();
  /// Releases every engine object (level, faces, avatars, lights); players keep their values.
  void Finalize();
  bool Initialized() const override { return initialized_; }

  /// One tick without its drawing: the session's receiving, the movement step, the report,
  /// the session's sending, chat-line ageing, camera follow and the engine step. A tick that
  /// starts inside another one (a message box shown while receiving) leaves the session alone.
  void Tick();

  /// Before a frame is drawn (smooth drawing): places the local avatar with its shadow, its walk
  /// cycle and the camera at the point between the previous and the current tick state that the
  /// clock's time falls on (the current one a full tick after it was reached), and every remote
  /// avatar where its track puts it. `EndFrame` puts the local avatar and the camera back exactly,
  /// so frames never change the simulation.
  void BeginFrame();
  /// After the frame is drawn: undoes what `BeginFrame` did to the local avatar and camera (the
  /// walk cycle is posed anew from its time, which gives the same pose).
  void EndFrame();

  /// The local player enters the level in `file`: shows its mesh, takes its faces for
  /// collision and rebuilds every avatar. A file that cannot be read gives an empty level.
  void LoadLevel(const std::string& file);
  /// The local player's movement step: keys, jump curve, collision, world limit, velocity,
  /// camera key, and the position and facing to report.
  void StepLocalPlayer();
  /// Moves the camera towards its place behind the avatar; may throw on engine failures.
  void FollowCamera();
  /// Ages every chat line by one tick and drops those past their lifetime.
  void AgeChatLines();

  /// Camera position in scene coordinates, kept across re-initializations.
  glm::vec3 CameraPos = kStartCameraPos;
  /// Chat lines shown over the view, oldest first, and their ages in ticks.
  const std::vector<std::string>& ChatLines() const { return chat_lines_; }
  const std::vector<int>& ChatAges() const { return chat_ages_; }

  /// The level's faces in mesh order.
  const std::vector<LevelFace>& Faces() const { return collider_->Faces(); }
  /// The frame holding the level mesh; null while not initialized.
  engine::Frame* LevelFrame() const { return level_frame_.get(); }
  /// The light the avatar's shadow is cast from; null while not initialized.
  const std::shared_ptr<engine::Light>& ShadowLight() const { return shadow_light_; }
  /// The plane the local avatar's shadow lies on.
  const ShadowPlane& LocalShadowPlane() const { return shadow_plane_; }
  /// A player's avatar objects, or null when it has none.
  static AvatarEngineObjects* Objects(const TPlayer& player);

  // AvatarView: the engine side of every player.
  void CreateAvatar(TPlayer& player) override;
  void FinishAvatar(TPlayer& player, bool local) override;
  void DestroyAvatar(TPlayer& player) override;
  void PlaceAvatar(TPlayer& player, bool local) override;
  void SetAnimationTime(TPlayer& player, int time) override;
  bool SetBodyTexture(TPlayer& player, const std::string& file) override;
  void SetPartColour(TPlayer& player, int part, std::uint32_t colour) override;
  void RedrawNameLabel(TPlayer& player) override;

  // ChatDisplay.
  void AddChatLine(const std::string& line) override;

 private:
  void PutShadowOnPlane(const ShadowPlane& plane);
  // The local avatar and camera as they stand now become both tick states (after a jump the
  // frames between ticks must not glide from the old place).
  void RestartDrawHistory();
  void RecordTickState();

  struct TickState {
    engine::FramePose avatar;
    engine::FramePose camera;
    float anim_time = 0.0f;  // the walk cycle's pose
  };

  GameWorldOptions options_;
  engine::Scene scene_;
  ClientWorld world_;
  InputState input_;
  std::unique_ptr<LevelCollider> collider_;
  LabelMaker* label_maker_ = nullptr;
  std::function<bool()> second_leg_;
  std::function<void(const std::string&)> chat_listener_;
  bool initialized_ = false;
  bool chat_mode_ = false;
  bool active_ = true;
  bool in_session_steps_ = false;
  // Whether the camera failed to follow last tick: its failure is logged once, not every tick.
  bool camera_stuck_ = false;
  bool session_held_ = false;
  std::shared_ptr<engine::Light> shadow_light_;
  std::shared_ptr<engine::Frame> level_frame_;
  ShadowPlane shadow_plane_;
  std::vector<std::string> chat_lines_;
  std::vector<int> chat_ages_;
  std::function<std::chrono::steady_clock::time_point()> clock_ = [] {
    return std::chrono::steady_clock::now();
  };
  // Smooth drawing: the local avatar whose tick states are kept, the previous and the current
  // state, when the current one was reached, and what a frame in progress must put back.
  std::shared_ptr<engine::Frame> history_avatar_;
  TickState previous_tick_;
  TickState current_tick_;
  std::chrono::steady_clock::time_point current_tick_time_{};
  std::shared_ptr<engine::Frame> posed_avatar_;
  std::shared_ptr<engine::AnimationSet> posed_anim_set_;
  TickState before_frame_;
};

}  // namespace tarvo::client
