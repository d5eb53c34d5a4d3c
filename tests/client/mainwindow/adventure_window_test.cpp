#include "client/mainwindow/adventure_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <glm/geometric.hpp>
#include <glm/vec2.hpp>

#include "client/mainwindow/window_test_app.h"
#include "support/kserver_process.h"

namespace tarvo::client {
namespace {

class MainWindowGui : public ::testing::Test {
 protected:
  void SetUp() override {
    window_test::WindowTestApp();
    window = std::make_unique<TAdventure>(window_test::TestPaths());
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }
  std::unique_ptr<TAdventure> window;
};

TEST_F(MainWindowGui, LayoutAndCaption) {
  EXPECT_EQ(window->windowTitle(), "Tarvo 3D");
  EXPECT_EQ(window->size(), QSize(640, 480));
  EXPECT_EQ(window->view().geometry(), QRect(0, 0, 640, 456));
  EXPECT_EQ(window->chat_line().geometry(), QRect(0, 456, 640, 24));
}

TEST_F(MainWindowGui, ChatLineTakesTheKeyboardOnlyWhenClicked) {
  QLineEdit& line = window->chat_line();
  window->view().setFocus();
  Settle();
  // Tab or any other focus change does not put the chat line in charge.
  line.setFocus(Qt::TabFocusReason);
  Settle();
  EXPECT_FALSE(window->game().ChatMode());
  EXPECT_FALSE(line.hasFocus());

  QTest::mouseClick(&line, Qt::LeftButton);
  Settle();
  EXPECT_TRUE(window->game().ChatMode());
  EXPECT_TRUE(line.hasFocus());
  window->view().setFocus(Qt::OtherFocusReason);
  Settle();
  EXPECT_TRUE(line.hasFocus()) << "turned back to the chat line";

  QTest::mouseClick(&window->view(), Qt::LeftButton);
  Settle();
  EXPECT_FALSE(window->game().ChatMode());
  EXPECT_TRUE(window->view().hasFocus());
}

TEST_F(MainWindowGui, EnterSendsTheTrimmedLineAndAnEmptyLineAddsNothing) {
  QLineEdit& line = window->chat_line();
  window->game().LocalPlayer().Nickname = "Ann";
  QTest::mouseClick(&line, Qt::LeftButton);
  QTest::keyClicks(&line, "  hello there  ");
  QTest::keyClick(&line, Qt::Key_Return);
  EXPECT_EQ(window->game().LocalPlayer().ChatText, "hello there");
  EXPECT_EQ(window->game().ChatLines(), std::vector<std::string>{"Ann: hello there"});
  EXPECT_TRUE(line.text().isEmpty());

  QTest::keyClicks(&line, "   ");
  QTest::keyClick(&line, Qt::Key_Return);
  EXPECT_EQ(window->game().LocalPlayer().ChatText, "");
  EXPECT_EQ(window->game().ChatLines().size(), 1u);
}

TEST_F(MainWindowGui, GameKeysReachTheInputAlsoWhileTyping) {
  QLineEdit& line = window->chat_line();
  QTest::mouseClick(&line, Qt::LeftButton);
  InputState& input = window->game().input();
  QTest::keyPress(&line, Qt::Key_8, Qt::KeypadModifier);
  EXPECT_TRUE(input.IsDown(GameKey::kPad8));
  QTest::keyRelease(&line, Qt::Key_8, Qt::KeypadModifier);
  EXPECT_FALSE(input.IsDown(GameKey::kPad8));
  EXPECT_TRUE(input.Query(GameKey::kPad8)) << "a press since the last query counts once";
  EXPECT_FALSE(input.Query(GameKey::kPad8));
  line.clear();
  QTest::keyClicks(&line, "8");  // the main keyboard's 8 is text
  EXPECT_FALSE(input.Query(GameKey::kPad8));
  EXPECT_EQ(line.text(), "8");

  QTest::mouseClick(&window->view(), Qt::LeftButton);
  for (auto [key, game_key] :
       {std::pair{Qt::Key_Up, GameKey::kPad8}, std::pair{Qt::Key_Down, GameKey::kPad2},
        std::pair{Qt::Key_Left, GameKey::kPad4}, std::pair{Qt::Key_Right, GameKey::kPad6},
        std::pair{Qt::Key_Space, GameKey::kPad5}, std::pair{Qt::Key_Insert, GameKey::kPad0}}) {
    QTest::keyPress(&window->view(), key);
    EXPECT_TRUE(input.IsDown(game_key)) << key;
    QTest::keyRelease(&window->view(), key);
    EXPECT_FALSE(input.IsDown(game_key)) << key;
  }
}

TEST_F(MainWindowGui, WasdWalkLikeTheKeypadInTheViewAndAreTextInTheChatLine) {
  GameWorld& game = window->game();
  TPlayer& me = game.LocalPlayer();
  // Three ticks with one key held from the same place; how far the avatar got.
  const auto walk = [&](Qt::Key key, Qt::KeyboardModifiers modifiers) {
    me.X = 0, me.Y = 0, me.Z = 0, me.Angle = 0;
    game.PlaceAvatar(me, true);
    QTest::keyPress(&window->view(), key, modifiers);
    for (int i = 0; i < 3; ++i) game.Tick();
    QTest::keyRelease(&window->view(), key, modifiers);
    for (int i = 0; i < 2; ++i) game.Tick();  // stands again
    return glm::vec2(me.X, me.Z);
  };
  QTest::mouseClick(&window->view(), Qt::LeftButton);
  const glm::vec2 keypad = walk(Qt::Key_8, Qt::KeypadModifier);
  EXPECT_GT(glm::length(keypad), 10.0f);
  EXPECT_EQ(walk(Qt::Key_W, Qt::NoModifier), keypad);
  for (auto [key, game_key] :
       {std::pair{Qt::Key_A, GameKey::kPad4}, std::pair{Qt::Key_S, GameKey::kPad2},
        std::pair{Qt::Key_D, GameKey::kPad6}}) {
    QTest::keyPress(&window->view(), key);
    EXPECT_TRUE(game.input().IsDown(game_key)) << key;
    QTest::keyRelease(&window->view(), key);
    EXPECT_FALSE(game.input().IsDown(game_key)) << key;
  }

  QLineEdit& line = window->chat_line();
  QTest::mouseClick(&line, Qt::LeftButton);
  line.clear();
  QTest::keyPress(&line, Qt::Key_W, Qt::NoModifier);
  EXPECT_FALSE(game.input().IsDown(GameKey::kPad8));
  QTest::keyRelease(&line, Qt::Key_W, Qt::NoModifier);
  EXPECT_FALSE(game.input().Query(GameKey::kPad8));
  QTest::keyClicks(&line, "wasd");
  EXPECT_EQ(line.text().toLower(), "wwasd");
}

TEST_F(MainWindowGui, FramesGoOnWhileTheDisconnectBoxIsOpen) {
  tarvo::testing::KServerProcess server;
  ASSERT_TRUE(server.Start()) << server.Log();
  ClientSettings settings;
  settings.ServerPort = std::to_string(server.port());
  window->StartSession(settings);
  for (int i = 0; i < 100 && window->game().LocalPlayer().Id < 0; ++i) {
    window->Tick();
    QTest::qWait(20);
  }
  ASSERT_GE(window->game().LocalPlayer().Id, 0);
  window->game().AddChatLine("a: line");
  server.Stop(SIGKILL);
  // The frame timer keeps ticking under the box; the box is closed after a while.
  int age_at_box = -1, age_under_box = -1;
  QTimer* watch = new QTimer(window.get());
  QObject::connect(watch, &QTimer::timeout, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr || window->game().ChatAges().empty()) return;
    if (age_at_box < 0) {
      age_at_box = window->game().ChatAges()[0];
      QTimer::singleShot(500, box, [&, box] {
        age_under_box = window->game().ChatAges()[0];
        box->close();
      });
    }
  });
  watch->start(10);
  for (int i = 0; i < 100 && window->world().CurrentSession() != nullptr; ++i) {
    window->Tick();  // the disconnect shows its box from inside this tick
    QTest::qWait(20);
  }
  EXPECT_EQ(window->world().CurrentSession(), nullptr);
  ASSERT_GE(age_at_box, 0) << "no disconnect box";
  EXPECT_GE(age_under_box - age_at_box, 5) << "ticks ran while the box was open";
}

TEST_F(MainWindowGui, MessageBoxShowsServerTextAsItIsNotAsMarkup) {
  QString shown;
  Qt::TextFormat format = Qt::AutoText;
  QTimer* watch = new QTimer(window.get());
  QObject::connect(watch, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    shown = box->text();
    format = box->textFormat();
    box->close();
  });
  watch->start(20);
  window->ShowMessage("<b>Kicked</b> <img src=\"/etc/x.png\">", "");
  delete watch;
  EXPECT_EQ(shown, "<b>Kicked</b> <img src=\"/etc/x.png\">");
  EXPECT_EQ(format, Qt::PlainText);
}

TEST_F(MainWindowGui, EscapeEndsTheProgram) {
  QTest::keyClick(&window->view(), Qt::Key_Escape);
  EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace tarvo::client
