#include "client/game/game_world.h"

#include <spdlog/spdlog.h>

#include <algorithm>
#include <cmath>
#include <glm/geometric.hpp>
#include <numbers>
#include <random>

#include "client/game/face_grid.h"

namespace tarvo::client {
namespace {

using engine::Color;
using engine::Frame;
using engine::Light;

// Vertical speed by jump step: upwards while rising, downwards while falling.
constexpr std::array<float, 7> kJumpSpeeds = {10, 10, 9, 8, 6, 3, 1};
constexpr float kWalkSpeed = 8.0f;
constexpr float kRunFactor = 1.5f;
constexpr float kWorldLimit = 4000.0f;
constexpr float kWalkBob = 3.0f;
constexpr float kCameraHeight = 80.0f;
constexpr float kCameraBehind = 200.0f;
constexpr float kCameraTilt = -0.15f;
constexpr float kBackClip = 500000.0f;
constexpr int kLabelWidth = 256;
constexpr int kLabelHeight = 55;

glm::vec3 Direction(double angle_degrees) {
  const double a = angle_degrees * std::numbers::pi / 180.0;
  return {static_cast<float>(std::cos(a)), 0.0f, static_cast<float>(std::sin(a))};
}

std::vector<LevelFace> FacesOf(const engine::MeshBuilder& mesh) {
  std::vector<LevelFace> faces;
  faces.reserve(mesh.FaceCount());
  for (size_t i = 0; i < mesh.FaceCount(); ++i) {
    faces.push_back(LevelFace{mesh.Faces()[i].normal, mesh.FaceVertices(i)});
  }
  return faces;
}

}  // namespace

GameWorld::GameWorld(engine::Loader* loader, GameWorldOptions options)
    : options_(options), collider_(std::make_unique<GridCollider>()) {
  scene_.SetLoader(loader);
  world_.SetView(this);
  world_.SetChat(this);
  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  second_leg_ = [engine] { return std::bernoulli_distribution(0.5)(*engine); };
}

GameWorld::~GameWorld() {
  // The players go with `world_`; nothing of theirs may reach back into a dying view.
  initialized_ = false;
  world_.SetView(nullptr);
  world_.SetChat(nullptr);
}

void GameWorld::SetCollider(std::unique_ptr<LevelCollider> collider) {
  std::vector<LevelFace> faces = collider_->Faces();
  collider_ = std::move(collider);
  collider_->SetFaces(std::move(faces));
}

AvatarEngineObjects* GameWorld::Objects(const TPlayer& player) {
  return static_cast<AvatarEngineObjects*>(player.avatar_objects.get());
}

void GameWorld::Initialize() {
  Finalize();
  BuildPartTable();
  auto point = std::make_shared<Light>(Light::Type::kPoint, Color{0.8f, 0.8f, 0.8f});
  auto ambient = std::make_shared<Light>(Light::Type::kAmbient, Color{0.4f, 0.4f, 0.4f});
  shadow_light_ = std::make_shared<Light>(Light::Type::kPoint, Color{0.3f, 0.3f, 0.3f});
  auto point_frame = scene_.CreateFrame();
  auto shadow_frame = scene_.CreateFrame();
  point_frame->AddLight(point);
  shadow_frame->AddLight(shadow_light_);
  scene_.root().AddLight(ambient);
  point_frame->SetPosition(&scene_.root(), {0.0f, 60.0f, 0.0f});
  shadow_frame->SetPosition(&scene_.root(), {200.0f, 20000.0f, 240.0f});

  initialized_ = true;
  LoadLevel(LocalPlayer().LevelFile);

  Frame& camera = *scene_.camera();
  camera.SetPosition(&scene_.root(), CameraPos);
  if (AvatarEngineObjects* local = Objects(LocalPlayer())) {
    camera.LookAt(*local->frame, &scene_.root(), engine::LookAtConstraint::kZ);
  }
  RestartDrawHistory();
  scene_.SetBack(kBackClip);
  scene_.SetBackground(Color{0.0f, 0.25f, 0.875f});
}

void GameWorld::Finalize() {
  EndFrame();
  history_avatar_.reset();
  initialized_ = false;
  collider_->SetFaces({});
  level_frame_.reset();
  shadow_light_.reset();
  shadow_plane_ = ShadowPlane{};
  LocalPlayer().avatar_objects.reset();
  for (const auto& player : world_.OtherPlayers()) player->avatar_objects.reset();
  scene_.Clear();
}

void GameWorld::LoadLevel(const std::string& file) {
  TPlayer& local = LocalPlayer();
  local.LevelFile = file;
  if (!initialized_) return;  // the next initialization loads it
  try {
    if (level_frame_) scene_.root().DeleteChild(level_frame_.get());
    collider_->SetFaces({});
    level_frame_ = scene_.CreateFrame();
    auto mesh = std::make_shared<engine::MeshBuilder>();
    scene_.LoadMesh(file, *mesh);  // a level that cannot be read stays empty
    mesh->SetPerspective(true);
    level_frame_->AddVisual(mesh);
    collider_->SetFaces(FacesOf(*mesh));
    local.BuildAvatar();
    // A player may leave the list while its avatar is built; walk by index.
    for (size_t i = 0; i < world_.OtherPlayers().size(); ++i)
      world_.OtherPlayers()[i]->BuildAvatar();
  } catch (const std::exception& e) {
    spdlog::warn("level {} only partly loaded: {}", file, e.what());  // what was built stays
  }
}

void GameWorld::Tick() {
  if (!initialized_) return;
  // A message box shown while the session receives runs ticks of its own; those leave the
  // session alone, so nothing of it is re-entered.
  const bool session_steps = !in_session_steps_ && !session_held_;
  if (session_steps) {
    in_session_steps_ = true;
    if (PlayerSession* session = world_.CurrentSession()) {
      session->ReceiveTcp();
      if (PlayerSession* still = world_.CurrentSession()) still->ReceiveUdp();
    }
    in_session_steps_ = false;
    if (!initialized_) return;
  }
  StepLocalPlayer();
  if (session_steps) {
    in_session_steps_ = true;
    LocalPlayer().ReportChanges();
    if (PlayerSession* session = world_.CurrentSession()) {
      session->MaintainUdpChannel();
      session->SendPending();
    }
    in_session_steps_ = false;
  }
  AgeChatLines();
  try {
    FollowCamera();
    camera_stuck_ = false;
  } catch (const std::exception& e) {
    // The camera stays where it is for this tick.
    if (!camera_stuck_) spdlog::warn("the camera cannot follow the player: {}", e.what());
    camera_stuck_ = true;
  }
  scene_.Tick(1.0);
  RecordTickState();
}

void GameWorld::RecordTickState() {
  if (!options_.smooth_drawing) return;
  AvatarEngineObjects* objects = Objects(LocalPlayer());
  if (objects == nullptr) {
    history_avatar_.reset();
    return;
  }
  const TickState next{objects->frame->pose(), scene_.camera()->pose(), objects->anim_set->time()};
  if (history_avatar_ != objects->frame) {
    history_avatar_ = objects->frame;
    previous_tick_ = next;
  } else {
    previous_tick_ = current_tick_;
  }
  current_tick_ = next;
  current_tick_time_ = clock_();
}

void GameWorld::RestartDrawHistory() {
  if (!options_.smooth_drawing) return;
  AvatarEngineObjects* objects = Objects(LocalPlayer());
  if (objects == nullptr) {
    history_avatar_.reset();
    return;
  }
  history_avatar_ = objects->frame;
  previous_tick_ =
      current_tick_ = {objects->frame->pose(), scene_.camera()->pose(), objects->anim_set->time()};
  current_tick_time_ = clock_();
}

void GameWorld::BeginFrame() {
  if (!options_.smooth_drawing || !initialized_) return;
  EndFrame();  // a frame left open is closed first
  const auto now = clock_();
  for (const auto& player : world_.OtherPlayers()) {
    AvatarEngineObjects* objects = Objects(*player);
    if (objects == nullptr || objects->track.empty()) continue;
    const RemotePose pose = objects->track.Advance(now);
    objects->frame->SetPosition(&scene_.root(), pose.position);
    objects->frame->SetOrientation(&scene_.root(), Direction(pose.angle), {0.0f, 1.0f, 0.0f});
    objects->anim_set->SetTime(static_cast<float>(pose.anim_time));
  }
  AvatarEngineObjects* local = Objects(LocalPlayer());
  if (local == nullptr || local->frame != history_avatar_) return;
  const double fraction = std::chrono::duration<double>(now - current_tick_time_).count() /
                          std::chrono::duration<double>(kTickInterval).count();
  posed_avatar_ = local->frame;
  posed_anim_set_ = local->anim_set;
  before_frame_ = {local->frame->pose(), scene_.camera()->pose(), local->anim_set->time()};
  if (fraction >= 1.0) {
    local->frame->SetPose(current_tick_.avatar);
    scene_.camera()->SetPose(current_tick_.camera);
    return;
  }
  const float f = static_cast<float>(std::max(0.0, fraction));
  const auto between = [f](const engine::FramePose& a, const engine::FramePose& b) {
    return engine::FramePose{a.position + (b.position - a.position) * f,
                             glm::slerp(a.rotation, b.rotation, f)};
  };
  local->frame->SetPose(between(previous_tick_.avatar, current_tick_.avatar));
  scene_.camera()->SetPose(between(previous_tick_.camera, current_tick_.camera));
  local->anim_set->SetTime(
      static_cast<float>(BetweenAnimTimes(previous_tick_.anim_time, current_tick_.anim_time, f)));
}

void GameWorld::EndFrame() {
  if (posed_avatar_ == nullptr) return;
  posed_avatar_->SetPose(before_frame_.avatar);
  scene_.camera()->SetPose(before_frame_.camera);
  if (posed_anim_set_ != nullptr) posed_anim_set_->SetTime(before_frame_.anim_time);
  posed_avatar_.reset();
  posed_anim_set_.reset();
}

void GameWorld::StepLocalPlayer() {
  if (!initialized_) return;
  TPlayer& player = LocalPlayer();
  AvatarEngineObjects* objects = Objects(player);
  if (objects == nullptr) return;
  Frame& avatar = *objects->frame;
  const Frame* root = &scene_.root();

  const glm::vec3 camera = scene_.camera()->GetPosition(root);
  const glm::vec3 position = avatar.GetPosition(root);
  glm::vec3 forward(position.x - camera.x, 0.0f, position.z - camera.z);
  // A camera straight above the avatar gives no direction; ahead is then +x rather than NaN.
  forward = glm::length(forward) > 0.0f ? glm::normalize(forward) : glm::vec3(1.0f, 0.0f, 0.0f);
  const glm::vec3 right(forward.z, 0.0f, -forward.x);
  glm::vec3 velocity(0.0f);

  // Movement keys are queried in every case, so a press made while typing is not kept.
  const bool keys_count = !chat_mode_ && active_;
  const bool pad6 = input_.Query(GameKey::kPad6) && keys_count;
  const bool pad4 = input_.Query(GameKey::kPad4) && keys_count;
  const bool pad2 = input_.Query(GameKey::kPad2) && keys_count;
  const bool pad8 = input_.Query(GameKey::kPad8) && keys_count;
  const bool jump = input_.Query(GameKey::kPad5) && keys_count;
  const int side = pad6 ? 1 : (pad4 ? -1 : 0);
  const int ahead = pad2 ? -1 : (pad8 ? 1 : 0);

  if (jump) {
    if (!player.Jumping && !player.JumpKeyHeld) {
      player.Jumping = true;
      player.Rising = true;
      player.JumpStep = -1;
    }
    player.JumpKeyHeld = true;
  } else {
    if (player.Jumping && player.Rising) {  // letting go ends the rise
      player.JumpStep = 6;
      player.Rising = false;
    }
    player.JumpKeyHeld = false;
  }
  if (player.Jumping) {
    if (player.Rising) {
      if (player.JumpStep + 1 > 6) {
        player.JumpStep = 6;
        player.Rising = false;
      } else {
        ++player.JumpStep;
      }
    } else {
      player.JumpStep = std::max(0, player.JumpStep - 1);
    }
  }

  if (side == 0 && ahead == -1) {
    // Walking back keeps the direction it started with while the camera swings round.
    if (!player.BackLatched) {
      player.BackDir = {-forward.x, 0.0f, -forward.z};
      player.BackLatched = true;
    }
    velocity = {player.BackDir[0], player.BackDir[1], player.BackDir[2]};
  } else {
    player.BackLatched = false;
  }
  if (!player.BackLatched) {
    if (side == 1) velocity += right;
    if (side == -1) velocity -= right;
    if (ahead == 1) velocity += forward;
    if (ahead == -1) velocity -= forward;
  }
  if (player.Jumping) {
    const float speed = kJumpSpeeds[std::clamp(player.JumpStep, 0, 6)];
    velocity.y = player.Rising ? speed : -speed;
  }
  if (player.Jumping && player.AnimState != kAnimAirborne) {
    player.AnimState = kAnimAirborne;
    player.AnimTime = 40;
  }
  if (side != 0 || ahead != 0) {
    if (!player.Jumping) {
      if (player.AnimState == kAnimStanding) player.AnimTime = second_leg_() ? 20 : 0;
      player.AnimState = kAnimWalking;
    }
    avatar.SetOrientation(root, {-velocity.x, 0.0f, -velocity.z}, {0.0f, 1.0f, 0.0f});
  } else if (!player.Jumping) {
    player.AnimState = kAnimStanding;
  }
  if (player.AnimState == kAnimWalking && player.WalkTicks < kRunWalkTicks) {
    ++player.WalkTicks;
  } else if (player.AnimState == kAnimStanding) {
    player.WalkTicks = 0;
  }
  if (player.WalkTicks >= kRunWalkTicks) {
    velocity.x *= kRunFactor;
    velocity.z *= kRunFactor;
  }
  velocity.x *= kWalkSpeed;
  velocity.z *= kWalkSpeed;

  Mover mover{position, player.Jumping, player.Rising, player.JumpStep, std::nullopt, std::nullopt};
  collider_->Collide(velocity, right, forward, mover);
  player.Jumping = mover.jumping;
  player.Rising = mover.rising;
  player.JumpStep = mover.jump_step;
  if (mover.shadow_plane) PutShadowOnPlane(*mover.shadow_plane);

  if (!player.Jumping && player.AnimState == kAnimWalking) {
    velocity.y +=
        static_cast<float>(std::fabs(std::cos((player.AnimTime - 1) / 40.0 * 3.14 * 2)) * kWalkBob);
  }
  const glm::vec3 next = position + velocity;
  if (next.x < -kWorldLimit || next.x >= kWorldLimit || next.z < -kWorldLimit ||
      next.z >= kWorldLimit) {
    velocity.x = 0.0f;
    velocity.z = 0.0f;
  }
  avatar.SetVelocity(root, velocity);

  // The camera key works while typing too.
  const bool pad0 = input_.Query(GameKey::kPad0);
  if (pad0 && !player.CameraKeyHeld) player.CameraFrozen = !player.CameraFrozen;
  player.CameraKeyHeld = pad0;

  player.X = position.x;
  player.Y = position.y;
  player.Z = position.z;
  const glm::vec3 direction = avatar.GetOrientation(root).direction;
  double angle =
      std::acos(std::clamp(static_cast<double>(direction.x), -1.0, 1.0)) * 180.0 / std::numbers::pi;
  if (direction.z < 0.0f) angle = 360.0 - angle;
  player.Angle = angle;
}

void GameWorld::FollowCamera() {
  AvatarEngineObjects* objects = Objects(LocalPlayer());
  if (objects == nullptr) return;
  Frame& camera = *scene_.camera();
  Frame& avatar = *objects->frame;
  const Frame* root = &scene_.root();
  if (LocalPlayer().CameraFrozen) {
    camera.SetVelocity(root, glm::vec3(0.0f));
    return;
  }
  const float d = glm::length(camera.GetPosition(&avatar));
  const float a = (d - kCameraDistance) / kCameraDistance;
  const float q = a >= 0.0f ? a * a / 10.0f : -(a * a) / 10.0f;
  if (q != 0.0f && q < 100.0f) {
    const glm::vec3 cs = camera.GetPosition(root);
    const glm::vec3 ps = avatar.GetPosition(root);
    camera.SetVelocity(
        root, {(ps.x - cs.x) * q, (ps.y + kCameraHeight - cs.y) / 10.0f, (ps.z - cs.z) * q});
  }
  const glm::vec3 r = camera.GetPosition(&avatar);
  if (r.x > 5.0f || r.x < -5.0f || r.z < 0.0f) {
    // Not behind the avatar: swing round it sideways.
    float s;
    if (r.z >= 0.0f) {
      s = std::clamp(r.x / 10.0f, -5.0f, 5.0f);
    } else {
      s = r.x >= 0.0f ? 5.0f : -5.0f;
    }
    camera.SetVelocity(&camera, {s, 0.0f, 0.0f});
  }
  CameraPos = camera.GetPosition(root);
  camera.LookAt(avatar, root, engine::LookAtConstraint::kZ);
  camera.AddRotation(engine::Combine::kBefore, {1.0f, 0.0f, 0.0f}, kCameraTilt);
}

void GameWorld::AgeChatLines() {
  size_t i = 0;
  while (i < chat_lines_.size()) {
    if (++chat_ages_[i] > kChatLineTicks) {
      chat_lines_.erase(chat_lines_.begin() + static_cast<std::ptrdiff_t>(i));
      chat_ages_.erase(chat_ages_.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}

void GameWorld::AddChatLine(const std::string& line) {
  chat_lines_.push_back(line);
  chat_ages_.push_back(0);
  if (chat_listener_) chat_listener_(line);
}

void GameWorld::PutShadowOnPlane(const ShadowPlane& plane) {
  shadow_plane_ = plane;
  AvatarEngineObjects* objects = Objects(LocalPlayer());
  if (objects == nullptr || objects->shadow == nullptr) return;
  objects->frame->DeleteVisual(objects->shadow.get());
  objects->shadow = std::make_shared<engine::Shadow>(objects->shadow_mesh, shadow_light_,
                                                     plane.point, plane.normal);
  objects->frame->AddVisual(objects->shadow);
}

// --- AvatarView --------------------------------------------------------------------------

void GameWorld::CreateAvatar(TPlayer& player) {
  if (AvatarEngineObjects* old = Objects(player)) scene_.root().DeleteChild(old->frame.get());
  player.avatar_objects.reset();
  if (!player.IsLocal() && !options_.remote_avatars) return;
  auto objects = std::make_unique<AvatarEngineObjects>();
  AvatarParts parts = AssembleAvatar(scene_, PartTable());
  objects->frame = std::move(parts.frame);
  objects->parts = std::move(parts.parts);
  objects->anim_set = std::move(parts.anim_set);
  player.avatar_objects = std::move(objects);
}

void GameWorld::FinishAvatar(TPlayer& player, bool local) {
  AvatarEngineObjects* objects = Objects(player);
  if (objects == nullptr) return;
  if (local) {
    engine::MeshBuilder snapshot;
    snapshot.AddFrame(*objects->frame);
    objects->shadow_mesh = snapshot.CreateMesh();
    shadow_plane_ = ShadowPlane{};
    objects->shadow = std::make_shared<engine::Shadow>(objects->shadow_mesh, shadow_light_,
                                                       shadow_plane_.point, shadow_plane_.normal);
    objects->frame->AddVisual(objects->shadow);
    TPlayer* owner = &player;
    engine::AnimationSet* anim_set = objects->anim_set.get();
    objects->frame->AddMoveCallback([owner, anim_set](Frame&, double) {
      AnimationTicker(owner->AnimState, owner->WalkTicks, owner->AnimTime, anim_set);
    });
  }
  objects->frame->SetPosition(
      &scene_.root(),
      {static_cast<float>(player.X), static_cast<float>(player.Y), static_cast<float>(player.Z)});
  objects->frame->SetOrientation(&scene_.root(), Direction(player.Angle), {0.0f, 1.0f, 0.0f});
  if (label_maker_ != nullptr) {
    try {
      objects->label = label_maker_->MakeNameLabel(player.Nickname.empty() ? " " : player.Nickname,
                                                   kLabelWidth, kLabelHeight);
      if (objects->label) objects->frame->AddVisual(objects->label->texture());
    } catch (const std::exception& e) {
      spdlog::warn("{} is shown without a name label: {}", player.Nickname, e.what());
      objects->label.reset();
    }
  }
  if (local) RestartDrawHistory();
}

void GameWorld::DestroyAvatar(TPlayer& player) {
  if (AvatarEngineObjects* objects = Objects(player)) {
    scene_.root().DeleteChild(objects->frame.get());
  }
}

void GameWorld::PlaceAvatar(TPlayer& player, bool local) {
  AvatarEngineObjects* objects = Objects(player);
  if (objects == nullptr) return;
  const glm::vec3 at(static_cast<float>(player.X), static_cast<float>(player.Y),
                     static_cast<float>(player.Z));
  if (!local && options_.smooth_drawing) {
    // Drawn from the track by each frame, some way in the past.
    objects->track.Add(clock_(),
                       RemotePose{at, player.Angle, static_cast<double>(player.AnimTime)});
    return;
  }
  const glm::vec3 direction = Direction(player.Angle);
  objects->frame->SetPosition(&scene_.root(), at);
  objects->frame->SetOrientation(&scene_.root(), direction, {0.0f, 1.0f, 0.0f});
  if (!local) return;
  Frame& camera = *scene_.camera();
  camera.SetPosition(&scene_.root(),
                     at + kCameraBehind * direction + glm::vec3(0.0f, kCameraHeight, 0.0f));
  camera.LookAt(*objects->frame, &scene_.root(), engine::LookAtConstraint::kZ);
  RestartDrawHistory();
}

void GameWorld::SetAnimationTime(TPlayer& player, int time) {
  if (AvatarEngineObjects* objects = Objects(player)) {
    // A tracked remote avatar takes its walk cycle with its position, from the track.
    if (!player.IsLocal() && !objects->track.empty()) return;
    objects->anim_set->SetTime(static_cast<float>(time));
  }
}

bool GameWorld::SetBodyTexture(TPlayer& player, const std::string& file) {
  AvatarEngineObjects* objects = Objects(player);
  if (objects == nullptr) return false;
  // The name may come from another player: only its base name is looked up, among our files.
  const size_t slash = file.find_last_of("/\\");
  const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  if (base.empty() || base == "." || base == "..") return false;
  std::shared_ptr<engine::Texture> texture = scene_.LoadTexture(base);
  if (texture == nullptr) return false;
  objects->parts[kPartBody].mesh->SetTexture(texture);
  return true;
}

void GameWorld::SetPartColour(TPlayer& player, int part, std::uint32_t colour) {
  AvatarEngineObjects* objects = Objects(player);
  if (objects == nullptr || part < 0 || part >= kPartCount) return;
  objects->parts[part].mesh->SetColorRgb(colour);
}

void GameWorld::RedrawNameLabel(TPlayer& player) {
  AvatarEngineObjects* objects = Objects(player);
  if (objects == nullptr || objects->label == nullptr) return;
  try {
    objects->label->Redraw(player.Nickname);
  } catch (const std::exception& e) {
    spdlog::warn("the name label of {} keeps its old picture: {}", player.Nickname, e.what());
  }
}

}  // namespace tarvo::client
