#include "client/world/player.h"

#include <array>

#include "client/world/client_world.h"
#include "protocol/encoding.h"
#include "protocol/properties.h"

namespace tarvo::client {
namespace {

using protocol::EntryReader;
using protocol::EntrySide;
using protocol::EntryStatus;
using protocol::PropertyEntry;

// Part-table order of the coloured parts.
constexpr int kRightArm = 2, kLeftArm = 3, kRightHand = 4, kLeftHand = 5, kRightFoot = 6,
              kLeftFoot = 7;

constexpr std::string_view kDefaultBodyMesh = "body.x";
constexpr std::string_view kDefaultHeadMesh = "head.x";
constexpr std::string_view kDefaultBodyTex = "body.bmp";
constexpr std::uint32_t kDefaultArmColor = 0xFF0000;
constexpr std::uint32_t kDefaultShoeColor = 0x800000;
constexpr std::uint32_t kDefaultHandColor = 0xFDCC47;
// A value no 24-bit colour has: the look replay sets it so that the colour counts as changed.
constexpr std::uint32_t kNoColour = 0xFFFFFFFF;

char CodeChar(int code) { return static_cast<char>(code + 32); }

// Whether the text holds anything but blanks and control characters.
bool HasVisibleText(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) > 32) return true;
  }
  return false;
}

void CutToPlayerText(std::string& text) {
  if (text.size() > protocol::kMaxPlayerText) text.resize(protocol::kMaxPlayerText);
}

}  // namespace

TPlayer::TPlayer(ClientWorld& world) : world_(world) {}

TPlayer::~TPlayer() {
  // Only a player the view built has anything in the scene.
  if (avatar_objects == nullptr) return;
  if (AvatarView* view = ActiveView()) view->DestroyAvatar(*this);
}

bool TPlayer::IsLocal() const { return &world_.LocalPlayer() == this; }

AvatarView* TPlayer::ActiveView() const {
  AvatarView* view = world_.View();
  return view != nullptr && view->Initialized() ? view : nullptr;
}

int TPlayer::PropertySlot(int code) {
  if (code >= 1 && code <= 13) return code - 1;
  if (code == protocol::kPropUdpPort) return 13;
  if (code == protocol::kPropHandColour) return 14;
  return -1;
}

void TPlayer::BuildAvatar() {
  AvatarView* view = ActiveView();
  if (view == nullptr) return;
  view->CreateAvatar(*this);
  // Look items away from their defaults are replayed onto the new parts; emptying or
  // invalidating the field first makes the apply see a change. Items at their defaults keep
  // what the mesh files carry.
  std::string replay;
  auto replay_text = [&](std::string& field, std::string_view fallback, int code) {
    if (field == fallback) return;
    replay.push_back(CodeChar(code));
    replay += EncodeProperty(code);
    field.clear();
  };
  auto replay_colour = [&](std::uint32_t& field, std::uint32_t fallback, int code) {
    if (field == fallback) return;
    replay.push_back(CodeChar(code));
    replay += EncodeProperty(code);
    field = kNoColour;
  };
  // A texture that fails to load on the new parts keeps its name: the replay emptied the field
  // first, and an emptied name would otherwise be reported as the player's texture.
  const std::string body_tex = BodyTex;
  replay_text(BodyMesh, kDefaultBodyMesh, protocol::kPropBodyMesh);
  replay_text(HeadMesh, kDefaultHeadMesh, protocol::kPropHeadMesh);
  replay_text(BodyTex, kDefaultBodyTex, protocol::kPropBodyTexture);
  replay_colour(ArmColor, kDefaultArmColor, protocol::kPropArmColour);
  replay_colour(ShoeColor, kDefaultShoeColor, protocol::kPropShoeColour);
  replay_colour(HandColor, kDefaultHandColor, protocol::kPropHandColour);
  ApplyProperties(replay, false);
  if (BodyTex.empty()) BodyTex = body_tex;
  view->FinishAvatar(*this, IsLocal());
}

std::string TPlayer::EncodeProperty(int code) {
  using namespace protocol;
  std::string out;
  switch (code) {
    case kPropPlayerId:
      PutByteNumber(out, Id);
      break;
    case kPropX:
      PutCoordinate(out, X);
      break;
    case kPropY:
      PutCoordinate(out, Y);
      break;
    case kPropZ:
      PutCoordinate(out, Z);
      break;
    case kPropViewAngle:
      PutAngle(out, Angle);
      break;
    case kPropAnimationTime:
      PutNumber2(out, AnimTime);
      break;
    case kPropBodyMesh:
      PutShortString(out, BodyMesh);
      break;
    case kPropHeadMesh:
      PutShortString(out, HeadMesh);
      break;
    case kPropBodyTexture:
      PutShortString(out, BodyTex);
      break;
    case kPropHeadTexture:
      PutShortString(out, HeadTex);
      break;
    case kPropArmColour:
      PutColour(out, ArmColor);
      break;
    case kPropShoeColour:
      PutColour(out, ShoeColor);
      break;
    case kPropNickname:
      CutToPlayerText(Nickname);
      PutShortString(out, Nickname);
      break;
    case kPropChatText:
      CutToPlayerText(ChatText);
      PutShortString(out, ChatText);
      break;
    case kPropLevelName:
      PutShortString(out, LevelFile);
      break;
    case kPropUdpPort: {
      // The bound port of the session, not the field: that is what the peers must send to.
      const PlayerSession* session = world_.CurrentSession();
      PutNumber3(out, session != nullptr ? session->UdpPort() : 0);
      break;
    }
    case kPropAddress:
      PutAddress(out, ClientAddress);
      break;
    case kPropHandColour:
      PutColour(out, HandColor);
      break;
    default:
      break;
  }
  return out;
}

void TPlayer::ApplyColour(std::uint32_t& field, std::uint32_t value, int part_a, int part_b) {
  const bool changed = field != value;
  field = value;
  if (!changed) return;
  if (AvatarView* view = ActiveView()) {
    view->SetPartColour(*this, part_a, value);
    view->SetPartColour(*this, part_b, value);
  }
}

ApplyResult TPlayer::ApplyProperties(std::string_view text, bool local) {
  using namespace protocol;
  ApplyResult result;
  const bool is_local = IsLocal();
  EntryReader reader(text, EntrySide::kClient);
  PropertyEntry entry;
  while (reader.Next(entry) == EntryStatus::kEntry) {
    if (entry.kind == PropertyEntry::Kind::kLevelPresence) {
      PlayerSession* session = world_.CurrentSession();
      if (!is_local && session != nullptr) {
        if (entry.number == 1) {
          session->AddPeer(*this);
        } else {
          session->RemovePeer(*this);
        }
      }
      continue;
    }
    if (entry.kind == PropertyEntry::Kind::kPlayerRemoved) {
      if (is_local) break;
      if (PlayerSession* session = world_.CurrentSession()) session->RemovePeer(*this);
      result.removed = true;
      // Destroys this player: nothing of it may be touched from here on, and the position
      // update is skipped with it.
      world_.DestroyOtherPlayer(this);
      return result;
    }
    const int code = entry.index;
    switch (code) {
      case kPropPlayerId:
        Id = static_cast<std::int32_t>(entry.number);
        break;
      case kPropX:
        X = entry.number;
        result.position_changed = true;
        break;
      case kPropY:
        Y = entry.number;
        result.position_changed = true;
        break;
      case kPropZ:
        Z = entry.number;
        result.position_changed = true;
        break;
      case kPropViewAngle:
        Angle = entry.number;
        result.position_changed = true;
        break;
      case kPropAnimationTime:
        AnimTime = static_cast<std::int32_t>(entry.number);
        if (AvatarView* view = ActiveView()) view->SetAnimationTime(*this, AnimTime);
        break;
      case kPropBodyMesh:
        BodyMesh = std::string(entry.text);
        break;
      case kPropHeadMesh:
        HeadMesh = std::string(entry.text);
        break;
      case kPropHeadTexture:
        HeadTex = std::string(entry.text);
        break;
      case kPropLevelName:
        LevelFile = std::string(entry.text);
        break;
      case kPropBodyTexture: {
        std::string previous = std::move(BodyTex);
        BodyTex = std::string(entry.text);
        AvatarView* view = ActiveView();
        if (view != nullptr && BodyTex != previous && !view->SetBodyTexture(*this, BodyTex)) {
          BodyTex = std::move(previous);  // an unloadable texture keeps the old one
        }
        break;
      }
      case kPropArmColour:
        ApplyColour(ArmColor, static_cast<std::uint32_t>(entry.number), kRightArm, kLeftArm);
        break;
      case kPropShoeColour:
        ApplyColour(ShoeColor, static_cast<std::uint32_t>(entry.number), kRightFoot, kLeftFoot);
        break;
      case kPropHandColour:
        ApplyColour(HandColor, static_cast<std::uint32_t>(entry.number), kRightHand, kLeftHand);
        break;
      case kPropNickname:
        Nickname = std::string(entry.text);
        if (AvatarView* view = ActiveView()) view->RedrawNameLabel(*this);
        break;
      case kPropChatText:
        ChatText = std::string(entry.text);
        if (ChatDisplay* chat = world_.Chat(); chat != nullptr && HasVisibleText(ChatText)) {
          chat->AddChatLine(Nickname + ": " + ChatText);
        }
        break;
      case kPropUdpPort:
        ClientPort = static_cast<std::int32_t>(entry.number);
        break;
      case kPropAddress:
        ClientAddress = static_cast<std::uint32_t>(entry.number);
        break;
      default:
        break;
    }
    // What the server told us is what it already holds: recording it keeps it from being
    // reported back.
    const int slot = PropertySlot(code);
    if (is_local && !local && SentProps.has_value() && slot >= 0) {
      (*SentProps)[slot] = CodeChar(code) + EncodeProperty(code);
    }
  }
  if (result.position_changed) {
    if (AvatarView* view = ActiveView()) view->PlaceAvatar(*this, is_local);
  }
  return result;
}

std::string TPlayer::MovementBody() {
  std::string body;
  for (int code : protocol::kUdpMovementOrder) body += EncodeProperty(code);
  return body;
}

std::vector<std::string> TPlayer::PropertyList() {
  std::vector<std::string> list;
  list.reserve(kReportSlots);
  for (int code = 0; code < protocol::kPropertyCount; ++code) {
    if (PropertySlot(code) < 0) continue;
    list.push_back(CodeChar(code) + EncodeProperty(code));
  }
  return list;
}

void TPlayer::ReportChanges() {
  PlayerSession* session = world_.CurrentSession();
  if (session == nullptr) return;
  std::vector<std::string> now = PropertyList();
  if (!SentProps.has_value()) {
    // The first report of a session: the look, the nickname and the UDP port. The hand colour
    // waits until it next changes.
    std::string first;
    for (int code : protocol::kFirstReportOrder) first += now[PropertySlot(code)];
    SentProps = std::move(now);
    session->SendProperties(first);
    return;
  }
  std::string changed;
  bool moved = false;
  for (int slot = 0; slot < kReportSlots; ++slot) {
    if (now[slot] == (*SentProps)[slot]) continue;
    changed += now[slot];
    if (slot < 5) moved = true;  // slots 0 to 4 are codes 1 to 5
  }
  std::string body;
  if (moved) {
    for (int code : protocol::kUdpMovementOrder) body += now[PropertySlot(code)].substr(1);
  }
  SentProps = std::move(now);
  if (!changed.empty()) session->SendProperties(changed);
  if (moved) session->SendMovement(body);
}

}  // namespace tarvo::client
