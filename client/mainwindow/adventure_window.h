#pragma once

#include <QImage>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/config/client_settings.h"
#include "client/config/ui/connect_host.h"
#include "client/game/game_world.h"
#include "client/label/name_label.h"
#include "client/session/adventure_client.h"
#include "client/session/session_host.h"
#include "engine/gl/view.h"
#include "engine/io/canvas.h"
#include "engine/io/file_loader.h"
#include "engine/io/surface.h"

namespace tarvo::client {

/// Where the client finds its files and puts what it makes.
struct ClientPaths {
  /// Folders searched for the avatar meshes, textures, the logo and the default level.
  std::vector<std::string> asset_folders;
  /// Level files received from the server (a per-user writable folder).
  std::filesystem::path level_folder;
  /// Screenshots (F12).
  std::filesystem::path screenshot_folder;
};

/// The game's main window: the 3D view with the chat line under it, the 50 ms tick timer that
/// drives the whole client, a frame timer at the screen's refresh rate that draws in between, the
/// chat and logo overlays, the keys (full screen, quit, options, edit look, movement) and the focus
/// rules between the view and the chat line. It owns the game world and the network session.
class TAdventure final : public QWidget, public SessionHost, public ConnectHost {
 public:
  /// Size of the client area as the window opens, and the layout the overlays and the chat
  /// line are scaled from.
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 480;
  /// Height of the chat line under the view at 480 pixels.
  static constexpr int kChatLineHeight = 24;
  /// The tick timer's interval.
  static constexpr int kTickMs = 50;
  /// The caption, also used for message boxes that have no caption of their own.
  static constexpr const char* kCaption = "Tarvo 3D";
  /// Where the newest chat line ends, and the x of every chat line.
  static constexpr int kChatBottom = 451;
  static constexpr int kChatLeft = 5;
  /// Where the logo is drawn.
  static constexpr int kLogoLeft = 10;
  static constexpr int kLogoTop = 10;

  explicit TAdventure(ClientPaths paths, QWidget* parent = nullptr);
  ~TAdventure() override;

  GameWorld& game() { return *game_; }
  ClientWorld& world() { return game_->world(); }
  engine::gl::View& view() { return *view_; }
  QLineEdit& chat_line() { return *chat_line_; }
  const ClientPaths& paths() const { return paths_; }

  /// Ends the current session and starts a new one with `settings` (kept by reference for the
  /// session's life); the window shows its failures.
  TAdventureClient& StartSession(ClientSettings& settings);
  /// The current session object, or null (it may be disconnected).
  TAdventureClient* session() const { return session_.get(); }

  /// The dialogs F1 and F2 show; none: the key does nothing.
  void SetOptionsDialog(QWidget* dialog) { options_dialog_ = dialog; }
  void SetEditLookDialog(QWidget* dialog) { edit_look_dialog_ = dialog; }

  /// One frame: the game world's tick, then the drawing of the scene and the overlays.
  void Tick();
  /// Draws frames between ticks at the screen's refresh rate (the default), or only after each
  /// tick as the game once did (for comparisons).
  void SetFramesBetweenTicks(bool on);
  /// Switches between the window and a borderless full screen at the desktop's resolution,
  /// rebuilding the scene from the current state.
  void ToggleFullScreen();
  bool IsFullScreen() const { return full_screen_; }
  /// Sends the chat line as the Enter key does.
  void SendChatLine();
  /// The window as it is shown now (view with overlays and chat line).
  QImage Grab();
  /// Saves `Grab()` as a PNG; false when it cannot be written.
  bool SaveScreenshot(const std::filesystem::path& file);
  /// Saves a screenshot into the screenshot folder and says where in a chat-overlay line.
  void TakeScreenshot();
  /// Draws the chat lines and the logo over the view.
  void DrawOverlays(engine::io::Canvas& canvas);

  // ConnectHost: what the connect dialog's Start needs.
  std::filesystem::path AssetDirectory() override;
  void ShowMainWindow() override;
  SessionHost& SessionHostForStart() override;
  SessionOptions SessionOptionsForStart() override;
  void AdoptSession(std::unique_ptr<TAdventureClient> session) override;
  void EndProgram() override;

  // SessionHost: modal message boxes over the window; levels go into the scene; notices are
  // chat overlay lines.
  void ShowMessage(std::string_view text, std::string_view caption) override;
  void LoadLevel(const std::filesystem::path& file) override;
  void ShowNotice(std::string_view text) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void OnViewInitialized();
  void OnViewFinalizing();
  bool HandleShortcut(QKeyEvent* event, bool typing);
  void ShowCentred(QWidget* dialog);
  void SetChatMode(bool on);
  // The window's height over the 480 pixels the layout was made for.
  double LayoutScale() const;

  ClientPaths paths_;
  engine::io::FileLoader loader_;
  SurfaceLabelMaker label_maker_;
  std::unique_ptr<GameWorld> game_;
  std::shared_ptr<engine::io::Surface> logo_;
  engine::gl::View* view_ = nullptr;
  QLineEdit* chat_line_ = nullptr;
  QFont chat_font_;  // at 480 pixels
  QTimer timer_;
  QTimer frame_timer_;
  std::unique_ptr<TAdventureClient> session_;
  QWidget* options_dialog_ = nullptr;
  QWidget* edit_look_dialog_ = nullptr;
  bool full_screen_ = false;
  QByteArray window_geometry_;
};

/// Feeds the game keys of a key event into `input`: the numeric keypad, and for keyboards
/// without one the arrow keys, Space (jump) and Insert (camera); with `letters` (the 3D view
/// has the keyboard) also W, A, S, D for keypad 8, 4, 2, 6. False for any other key.
bool FeedGameKey(InputState& input, const QKeyEvent& event, bool letters = false);

}  // namespace tarvo::client
