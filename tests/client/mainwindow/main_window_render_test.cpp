#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <cstdlib>
#include <filesystem>

#include "client/mainwindow/adventure_window.h"
#include "client/mainwindow/window_test_app.h"
#include "engine/io/x_writer.h"

namespace tarvo::client {
namespace {

class MainWindowRender : public ::testing::Test {
 protected:
  void SetUp() override {
    window_test::WindowTestApp();
    window = std::make_unique<TAdventure>(window_test::TestPaths());
    window->game().LocalPlayer().Nickname = "Ann";
    window->game().LocalPlayer().ArmColor = 0x00FF00;
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_TRUE(window->view().Initialized());
    Frames(10);
  }
  void Frames(int n) {
    for (int i = 0; i < n; ++i) {
      window->Tick();
      QApplication::processEvents();
    }
  }
  std::unique_ptr<TAdventure> window;
};

bool IsWhite(QRgb pixel) { return qRed(pixel) > 240 && qGreen(pixel) > 240 && qBlue(pixel) > 240; }

TEST_F(MainWindowRender, LogoChatLinesAndAvatarInTheFrame) {
  window->game().AddChatLine("Bob: older line");
  window->game().AddChatLine("Ann: newest line");
  Frames(2);
  const QImage frame = window->Grab().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(frame.size(), QSize(640, 480));

  // The whole logo, opaque, at (10, 10).
  QImage logo(TARVO_SOURCE_DIR "/data/client/logo.bmp");
  ASSERT_FALSE(logo.isNull());
  logo = logo.convertToFormat(QImage::Format_RGB32);
  int same = 0, total = 0;
  for (int y = 0; y < logo.height(); y += 3) {
    for (int x = 0; x < logo.width(); x += 3) {
      ++total;
      if ((frame.pixel(10 + x, 10 + y) & 0xFFFFFF) == (logo.pixel(x, y) & 0xFFFFFF)) ++same;
    }
  }
  EXPECT_EQ(same, total);

  // Chat text is white from x = 5, and nothing white lies below y = 451 in its rows.
  int lowest = -1, leftmost = 640;
  for (int y = 300; y < 456; ++y) {
    for (int x = 0; x < 200; ++x) {
      if (IsWhite(frame.pixel(x, y))) {
        lowest = std::max(lowest, y);
        leftmost = std::min(leftmost, x);
      }
    }
  }
  EXPECT_GE(leftmost, 5);
  EXPECT_LE(lowest, 450);
  EXPECT_GE(lowest, 440) << "the newest line ends just above y = 451";

  // The avatar stands in the middle with its green arms.
  int green = 0;
  for (int y = 150; y < 400; ++y) {
    for (int x = 220; x < 420; ++x) {
      const QRgb p = frame.pixel(x, y);
      if (qGreen(p) > 100 && qRed(p) < 60 && qBlue(p) < 60) ++green;
    }
  }
  EXPECT_GT(green, 10);
}

TEST_F(MainWindowRender, FullScreenSwitchRebuildsTheSameLookAndKeepsTheCamera) {
  const glm::vec3 camera = window->game().CameraPos;
  QTest::keyClick(&window->view(), Qt::Key_Return, Qt::AltModifier);
  EXPECT_TRUE(window->IsFullScreen());
  TPlayer& me = window->game().LocalPlayer();
  ASSERT_NE(GameWorld::Objects(me), nullptr);
  EXPECT_EQ(GameWorld::Objects(me)->parts[kPartLeftArm].mesh->Faces().at(0).color,
            engine::Color::FromRgb(0x00FF00));
  EXPECT_EQ(window->game().scene().camera()->GetPosition(nullptr), camera);
  Frames(3);
  QTest::keyClick(&window->view(), Qt::Key_Return, Qt::AltModifier);
  EXPECT_FALSE(window->IsFullScreen());
  EXPECT_EQ(window->size(), QSize(640, 480));
  ASSERT_NE(GameWorld::Objects(me), nullptr);
  EXPECT_FALSE(window->game().Faces().empty());
}

// The screen under test is 1600 by 900: full screen fills it, the 3D view at that size with the
// overlays scaled by 900 / 480.
TEST_F(MainWindowRender, FullScreenFillsTheScreenWithTheViewAndScaledOverlays) {
  const QSize screen = window->screen()->size();
  ASSERT_EQ(screen, QSize(1600, 900));
  window->game().AddChatLine("Ann: WWWWWWWWWW");
  QTest::keyClick(&window->view(), Qt::Key_Return, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == screen; }));
  // On a green plain without walls the sky shows above its far edge.
  engine::MeshData plain;
  const uint32_t a = plain.AddVertex({-600, 0, -600}), b = plain.AddVertex({-600, 0, 600}),
                 c = plain.AddVertex({600, 0, 600}), d = plain.AddVertex({600, 0, -600});
  plain.AddFace({a, b, c, d}, engine::Color{0.1f, 0.6f, 0.1f});
  const std::string level = ::testing::TempDir() + "/open-plain.x";
  ASSERT_TRUE(engine::io::SaveXFile(plain, level));
  window->game().LoadLevel(level);
  Frames(3);
  const QImage frame = window->Grab().convertToFormat(QImage::Format_RGB32);
  if (const char* dump = std::getenv("TARVO_RENDER_DUMP")) frame.save(dump);
  ASSERT_EQ(frame.size(), screen);
  const double scale = 900.0 / 480.0;

  const QRgb sky = qRgb(0, 64, 223);
  const auto near = [](QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
               std::abs(qBlue(a) - qBlue(b)) <
           12;
  };
  EXPECT_TRUE(near(frame.pixel(2, 2), sky)) << std::hex << frame.pixel(2, 2);
  EXPECT_TRUE(near(frame.pixel(1597, 2), sky)) << std::hex << frame.pixel(1597, 2);
  // Ground, not sky and not black, across the whole width of the lower half.
  for (int x : {2, 400, 800, 1200, 1597}) {
    const QRgb p = frame.pixel(x, 700);
    EXPECT_FALSE(near(p, sky) || near(p, qRgb(0, 0, 0))) << x << " " << std::hex << p;
  }

  // The logo at (10, 10) times the scale, each of its pixels drawn that much larger.
  QImage logo(TARVO_SOURCE_DIR "/data/client/logo.bmp");
  logo = logo.convertToFormat(QImage::Format_RGB32);
  int same = 0, total = 0;
  for (int y = 0; y < logo.height(); y += 3) {
    for (int x = 0; x < logo.width(); x += 3) {
      ++total;
      const QRgb drawn = frame.pixel(static_cast<int>(10 * scale + (x + 0.5) * scale),
                                     static_cast<int>(10 * scale + (y + 0.5) * scale));
      if (near(drawn, logo.pixel(x, y))) ++same;
    }
  }
  EXPECT_GE(same, total * 95 / 100);

  // The newest chat line ends just above 451 times the scale, in letters the scale taller.
  int lowest = -1, highest = 900;
  for (int y = 500; y < window->view().height(); ++y) {
    for (int x = 0; x < 400; ++x) {
      if (IsWhite(frame.pixel(x, y))) {
        lowest = std::max(lowest, y);
        highest = std::min(highest, y);
      }
    }
  }
  EXPECT_LE(lowest, static_cast<int>(451 * scale));
  EXPECT_GE(lowest, static_cast<int>(440 * scale));
  EXPECT_GE(lowest - highest, 15) << "a capital W is about 10 pixels tall at 480";

  QTest::keyClick(&window->view(), Qt::Key_Return, Qt::AltModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == QSize(640, 480); }));
}

TEST(MainWindowWithoutLogo, StillBuildsLightsLevelAndCamera) {
  window_test::WindowTestApp();
  // Every client file but the logo.
  const std::filesystem::path folder = ::testing::TempDir() + "/no-logo";
  std::filesystem::create_directories(folder);
  for (const auto& entry : std::filesystem::directory_iterator(TARVO_SOURCE_DIR "/data/client")) {
    if (entry.path().filename() == "logo.bmp") continue;
    std::filesystem::copy_file(entry.path(), folder / entry.path().filename(),
                               std::filesystem::copy_options::overwrite_existing);
  }
  ClientPaths paths = window_test::TestPaths("no-logo");
  paths.asset_folders = {folder.string()};
  TAdventure window(paths);
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_TRUE(window.game().Initialized());
  EXPECT_FALSE(window.game().Faces().empty());
  EXPECT_NE(window.game().ShadowLight(), nullptr);
  EXPECT_NE(GameWorld::Objects(window.game().LocalPlayer()), nullptr);
  window.Tick();
  QApplication::processEvents();
}

}  // namespace
}  // namespace tarvo::client
