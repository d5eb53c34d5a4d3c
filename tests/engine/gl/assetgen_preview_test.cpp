// Runs the asset generator's preview the way a person would, under xvfb-run with Mesa's
// software OpenGL, and looks at the picture it writes.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>

#include "engine/gui_app.h"

namespace {

struct ProgramRun {
  int exit_code = -1;
  QString errors;
};

ProgramRun RunAssetgen(const QStringList& arguments, const QProcessEnvironment& environment =
                                                         QProcessEnvironment::systemEnvironment()) {
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(TARVO_BIN_DIR "/assetgen"), arguments);
  ProgramRun run;
  if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
    process.kill();
    process.waitForFinished();
    run.errors = "assetgen did not finish";
    return run;
  }
  run.exit_code = process.exitCode();
  run.errors = QString::fromLocal8Bit(process.readAllStandardError());
  return run;
}

class AssetgenPreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvo::engine::testing::EnsureGuiApplication();
    ASSERT_TRUE(dir_.isValid());
  }
  QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

  QTemporaryDir dir_;
};

TEST_F(AssetgenPreviewTest, WritesTheAssetsAndAPictureOfTheLevelWithAnAvatar) {
  const ProgramRun run = RunAssetgen(
      {Path("assets"), "--preview", Path("preview.png"), "--width", "320", "--height", "240"});
  ASSERT_EQ(run.exit_code, 0) << run.errors.toStdString();
  EXPECT_TRUE(QFile::exists(Path("assets/level1.x")));
  EXPECT_TRUE(QFile::exists(Path("assets/head.x")));

  const QImage image(Path("preview.png"));
  ASSERT_FALSE(image.isNull()) << "no readable preview.png";
  EXPECT_EQ(image.size(), QSize(320, 240));
  image.save(QDir::current().absoluteFilePath("assetgen_preview.png"));

  // A lit, shaded level with a figure on it has many colours; a failed draw has one.
  QSet<QRgb> colours;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
  }
  EXPECT_GT(colours.size(), 50);
  // The sky above the walls is the client's background blue, the floor below is not.
  const QRgb corner = image.pixel(0, 0);
  EXPECT_LT(qRed(corner), 8);
  EXPECT_GT(qBlue(corner), 200);
  EXPECT_NE(image.pixel(0, image.height() - 1), corner);
}

TEST_F(AssetgenPreviewTest, WithoutOpenGLSaysSoAndFails) {
  // Qt's minimal platform offers no OpenGL at all.
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "minimal");
  const ProgramRun run =
      RunAssetgen({Path("assets"), "--preview", Path("preview.png")}, environment);
  EXPECT_EQ(run.exit_code, 2) << run.errors.toStdString();
  EXPECT_TRUE(run.errors.contains("no OpenGL 3.3 context")) << run.errors.toStdString();
  EXPECT_FALSE(QFile::exists(Path("preview.png")));
  // The assets themselves were written before the preview was tried.
  EXPECT_TRUE(QFile::exists(Path("assets/level1.x")));
}

TEST_F(AssetgenPreviewTest, PictureSizeWithoutPreviewIsRefused) {
  const ProgramRun run = RunAssetgen({Path("assets"), "--width", "320"});
  EXPECT_NE(run.exit_code, 0);
  EXPECT_FALSE(QFile::exists(Path("assets/level1.x")));
}

}  // namespace
