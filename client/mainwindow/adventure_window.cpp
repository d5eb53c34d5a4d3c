#include "client/mainwindow/adventure_window.h"

#include <spdlog/spdlog.h>

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <ctime>

#include "protocol/properties.h"

namespace tarvo::client {
namespace {

// Blanks and control characters, as the chat line trims them.
std::string Trimmed(const std::string& text) {
  size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

bool IsEnter(const QKeyEvent& event) {
  return event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter;
}

}  // namespace

bool FeedGameKey(InputState& input, const QKeyEvent& event, bool letters) {
  const bool keypad = event.modifiers().testFlag(Qt::KeypadModifier);
  // Letters are text in the chat line and parts of shortcuts with Ctrl or Alt.
  const bool letter_keys =
      letters && !(event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
  GameKey key;
  switch (event.key()) {
    case Qt::Key_W:
    case Qt::Key_S:
    case Qt::Key_A:
    case Qt::Key_D:
      if (!letter_keys) return false;
      key = event.key() == Qt::Key_W   ? GameKey::kPad8
            : event.key() == Qt::Key_S ? GameKey::kPad2
            : event.key() == Qt::Key_A ? GameKey::kPad4
                                       : GameKey::kPad6;
      break;
    case Qt::Key_8:
      if (!keypad) return false;
      [[fallthrough]];
    case Qt::Key_Up:
      key = GameKey::kPad8;
      break;
    case Qt::Key_2:
      if (!keypad) return false;
      [[fallthrough]];
    case Qt::Key_Down:
      key = GameKey::kPad2;
      break;
    case Qt::Key_4:
      if (!keypad) return false;
      [[fallthrough]];
    case Qt::Key_Left:
      key = GameKey::kPad4;
      break;
    case Qt::Key_6:
      if (!keypad) return false;
      [[fallthrough]];
    case Qt::Key_Right:
      key = GameKey::kPad6;
      break;
    case Qt::Key_5:
      if (!keypad) return false;
      [[fallthrough]];
    case Qt::Key_Clear:  // keypad 5 without Num Lock
    case Qt::Key_Space:
      key = GameKey::kPad5;
      break;
    case Qt::Key_0:
      if (!keypad) return false;
      [[fallthrough]];
    case Qt::Key_Insert:
      key = GameKey::kPad0;
      break;
    default:
      return false;
  }
  // Held keys repeat as release and press pairs: the key stays down throughout.
  if (event.isAutoRepeat()) return true;
  if (event.type() == QEvent::KeyPress) {
    input.Press(key);
  } else {
    input.Release(key);
  }
  return true;
}

TAdventure::TAdventure(ClientPaths paths, QWidget* parent)
    : QWidget(parent),
      paths_(std::move(paths)),
      loader_(paths_.asset_folders),
      game_(std::make_unique<GameWorld>(&loader_, GameWorldOptions{.smooth_drawing = true})) {
  setWindowTitle(kCaption);
  // Opens at 640 by 480 (logical pixels: the screen's scale factor applies) and may be resized,
  // maximised or made full screen; the view takes what the chat line leaves.
  resize(kWidth, kHeight);
  setMinimumSize(kWidth / 4, kHeight / 4);
  setAutoFillBackground(true);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);

  view_ = new engine::gl::View(this);
  chat_line_ = new QLineEdit(this);
  chat_line_->setFixedHeight(kChatLineHeight);
  chat_font_ = chat_line_->font();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(view_, 1);
  layout->addWidget(chat_line_);

  game_->SetLabelMaker(&label_maker_);
  view_->SetScene(&game_->scene());
  view_->SetInitializeHandler([this] { OnViewInitialized(); });
  view_->SetFinalizeHandler([this] { OnViewFinalizing(); });
  view_->SetOverlayHandler([this](engine::io::Canvas& canvas) { DrawOverlays(canvas); });
  view_->SetFrameHandlers([this] { game_->BeginFrame(); }, [this] { game_->EndFrame(); });

  view_->installEventFilter(this);
  chat_line_->installEventFilter(this);
  installEventFilter(this);

  connect(qApp, &QGuiApplication::applicationStateChanged, this,
          [this](Qt::ApplicationState state) {
            game_->SetApplicationActive(state == Qt::ApplicationActive);
            if (state != Qt::ApplicationActive) game_->input().ReleaseAll();
          });

  timer_.setInterval(kTickMs);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
  timer_.start();
  // Frames between ticks, as often as the screen shows them; with vsync the swap paces them.
  QScreen* screen = QGuiApplication::primaryScreen();
  const double refresh =
      screen != nullptr && screen->refreshRate() > 1.0 ? screen->refreshRate() : 60.0;
  frame_timer_.setInterval(std::max(1, static_cast<int>(1000.0 / refresh)));
  frame_timer_.setTimerType(Qt::PreciseTimer);
  connect(&frame_timer_, &QTimer::timeout, view_, [this] { view_->update(); });
  SetFramesBetweenTicks(true);

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

TAdventure::~TAdventure() {
  timer_.stop();
  frame_timer_.stop();
  session_.reset();
  // The view lets go of the scene while the world still exists.
  delete view_;
  view_ = nullptr;
}

TAdventureClient& TAdventure::StartSession(ClientSettings& settings) {
  session_.reset();
  AdoptSession(std::make_unique<TAdventureClient>(settings, world(), SessionHostForStart(),
                                                  SessionOptionsForStart()));
  return *session_;
}

std::filesystem::path TAdventure::AssetDirectory() {
  return paths_.asset_folders.empty() ? std::filesystem::path()
                                      : std::filesystem::path(paths_.asset_folders.front());
}

void TAdventure::ShowMainWindow() {
  show();
  raise();
  activateWindow();
}

SessionHost& TAdventure::SessionHostForStart() {
  // The session is made next; a message box it shows while connecting runs ticks that must
  // not reach it before it is ours.
  game_->HoldSession(true);
  return *this;
}

SessionOptions TAdventure::SessionOptionsForStart() {
  SessionOptions options;
  options.level_directory = paths_.level_folder;
  return options;
}

void TAdventure::AdoptSession(std::unique_ptr<TAdventureClient> session) {
  session_ = std::move(session);
  game_->HoldSession(false);
}

void TAdventure::EndProgram() { QCoreApplication::quit(); }

void TAdventure::Tick() {
  game_->Tick();  // the engine step asks the view to draw
}

void TAdventure::SetFramesBetweenTicks(bool on) {
  // With the frame timer the ticks need not ask for a picture: one more would exceed the
  // screen's rate.
  game_->SetRenderer(on ? nullptr : view_);
  if (on) {
    frame_timer_.start();
  } else {
    frame_timer_.stop();
  }
}

void TAdventure::OnViewInitialized() {
  logo_ = engine::io::Surface::Create(1, 1);
  const std::string logo_file = loader_.Resolve("logo.bmp");
  // Without its logo the scene is still built.
  if (logo_file.empty() || !logo_->LoadBitmap(logo_file)) {
    spdlog::warn("logo.bmp could not be loaded");
    logo_.reset();
  }
  game_->Initialize();
}

void TAdventure::OnViewFinalizing() {
  game_->Finalize();
  logo_.reset();
}

double TAdventure::LayoutScale() const {
  return static_cast<double>(height()) / static_cast<double>(kHeight);
}

void TAdventure::DrawOverlays(engine::io::Canvas& canvas) {
  // Laid out for the 456-pixel view and scaled with the view's height.
  const double scale = static_cast<double>(view_->height()) / engine::gl::View::kHeight;
  const auto scaled = [scale](int v) { return static_cast<int>(std::lround(v * scale)); };
  try {
    canvas.SetBrushTransparent(true);
    canvas.SetFont("Dialog", true, std::max(1, scaled(14)));
    canvas.SetFontColor(0xFFFFFF);
    const int h = canvas.TextHeight(" ");
    const auto& lines = game_->ChatLines();
    const int count = static_cast<int>(lines.size());
    for (int j = 0; j < count; ++j) {
      canvas.TextOut(scaled(kChatLeft), scaled(kChatBottom) - h * (count - j), ShownText(lines[j]));
    }
  } catch (const std::exception& e) {
    spdlog::debug("chat overlay: {}", e.what());
  }
  try {
    if (logo_) {
      canvas.Draw(scaled(kLogoLeft), scaled(kLogoTop), scaled(logo_->width()),
                  scaled(logo_->height()), *logo_);
    }
  } catch (const std::exception& e) {
    spdlog::debug("logo overlay: {}", e.what());
  }
}

void TAdventure::resizeEvent(QResizeEvent* event) {
  // The chat line grows with the window as the overlays do.
  const double scale = LayoutScale();
  chat_line_->setFixedHeight(std::max(1, static_cast<int>(std::lround(kChatLineHeight * scale))));
  QFont font = chat_font_;
  if (font.pointSizeF() > 0) {
    font.setPointSizeF(font.pointSizeF() * scale);
  } else {
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(font.pixelSize() * scale))));
  }
  chat_line_->setFont(font);
  QWidget::resizeEvent(event);
}

void TAdventure::ToggleFullScreen() {
  // The scene is rebuilt from the current state, as after a new 3D device.
  game_->Finalize();
  if (full_screen_) {
    showNormal();
    restoreGeometry(window_geometry_);
    view_->unsetCursor();
    full_screen_ = false;
  } else {
    // Borderless over the whole screen at the desktop's resolution.
    window_geometry_ = saveGeometry();
    // Without a window manager the full-screen state alone moves nothing: take the screen too.
    if (QScreen* screen = this->screen()) setGeometry(screen->geometry());
    showFullScreen();
    full_screen_ = true;
  }
  if (view_->Initialized()) OnViewInitialized();
  view_->setCursor(Qt::ArrowCursor);
}

void TAdventure::SendChatLine() {
  TPlayer& me = game_->LocalPlayer();
  me.ChatText = Trimmed(chat_line_->text().toLatin1().toStdString());
  std::string entry(1, static_cast<char>(protocol::kPropChatText + 32));
  entry += me.EncodeProperty(protocol::kPropChatText);
  me.ApplyProperties(entry, true);
  chat_line_->clear();
  if (PlayerSession* session = world().CurrentSession()) session->SendChat(me.ChatText);
}

void TAdventure::SetChatMode(bool on) { game_->SetChatMode(on); }

void TAdventure::ShowCentred(QWidget* dialog) {
  if (dialog == nullptr) return;
  if (full_screen_) {
    // Centred over the picture.
    const QPoint origin = mapToGlobal(QPoint(0, 0));
    dialog->move(origin +
                 QPoint((width() - dialog->width()) / 2, (height() - dialog->height()) / 2));
  }
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
}

bool TAdventure::HandleShortcut(QKeyEvent* event, bool typing) {
  if (IsEnter(*event) && event->modifiers().testFlag(Qt::AltModifier)) {
    // The chat line gets the Enter too, so typing sends what was typed.
    ToggleFullScreen();
    if (typing) SendChatLine();
    return true;
  }
  switch (event->key()) {
    case Qt::Key_Escape:
      close();
      return true;
    case Qt::Key_F1:
      ShowCentred(options_dialog_);
      return true;
    case Qt::Key_F2:
      ShowCentred(edit_look_dialog_);
      return true;
    case Qt::Key_F12:
      TakeScreenshot();
      return true;
    default:
      break;
  }
  if (IsEnter(*event) && typing) {
    SendChatLine();
    return true;
  }
  return false;
}

bool TAdventure::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      FeedGameKey(game_->input(), *key, watched == view_);
      if (HandleShortcut(key, watched == chat_line_)) return true;
      // Keypad keys go nowhere else while the view has the keyboard.
      return watched != chat_line_ && key->modifiers().testFlag(Qt::KeypadModifier);
    }
    case QEvent::KeyRelease:
      // A letter let go in the chat line may have been pressed in the view.
      FeedGameKey(game_->input(), *static_cast<QKeyEvent*>(event), true);
      return false;
    case QEvent::MouseButtonPress:
      if (watched == chat_line_) {
        SetChatMode(true);
        chat_line_->setFocus(Qt::MouseFocusReason);
      } else if (watched == view_) {
        SetChatMode(false);
        view_->setFocus(Qt::MouseFocusReason);
      }
      return false;
    case QEvent::FocusIn:
      // Any other way of moving the focus is turned back to where the chat mode says.
      if (watched == chat_line_ && !game_->ChatMode()) {
        QMetaObject::invokeMethod(
            view_,
            [this] {
              if (!game_->ChatMode()) view_->setFocus(Qt::OtherFocusReason);
            },
            Qt::QueuedConnection);
      } else if (watched == view_ && game_->ChatMode()) {
        QMetaObject::invokeMethod(
            chat_line_,
            [this] {
              if (game_->ChatMode()) chat_line_->setFocus(Qt::OtherFocusReason);
            },
            Qt::QueuedConnection);
      }
      return false;
    default:
      return false;
  }
}

void TAdventure::closeEvent(QCloseEvent* event) {
  event->accept();
  QApplication::quit();
}

void TAdventure::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) {
    game_->input().ReleaseAll();  // keys let go elsewhere never reach us
  }
  QWidget::changeEvent(event);
}

QImage TAdventure::Grab() { return grab().toImage(); }

bool TAdventure::SaveScreenshot(const std::filesystem::path& file) {
  std::error_code ignored;
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), ignored);
  return Grab().save(QString::fromStdString(file.string()), "PNG");
}

void TAdventure::TakeScreenshot() {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
  const std::filesystem::path file =
      paths_.screenshot_folder / (std::string("tarvo3d-") + stamp + ".png");
  game_->AddChatLine(SaveScreenshot(file)
                         ? "Screenshot saved to " + file.string()
                         : "The screenshot could not be saved to " + file.string());
}

void TAdventure::ShowMessage(std::string_view text, std::string_view caption) {
  QMessageBox box(QMessageBox::NoIcon,
                  caption.empty()
                      ? QString(kCaption)
                      : QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())),
                  QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())),
                  QMessageBox::Ok, isVisible() ? this : nullptr);
  // The text comes from the server: shown as it is, never taken for markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();  // the frame timer keeps firing meanwhile
}

void TAdventure::LoadLevel(const std::filesystem::path& file) { game_->LoadLevel(file.string()); }

void TAdventure::ShowNotice(std::string_view text) { game_->AddChatLine(std::string(text)); }

}  // namespace tarvo::client
