#include "client/mainwindow/client_program.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QOpenGLContext>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <iostream>
#include <optional>

#include "base/files.h"
#include "client/config/configuration.h"
#include "client/config/ui/connect_frame.h"
#include "client/config/ui/edit_look.h"
#include "client/config/ui/more_options.h"
#include "client/config/user_store.h"
#include "client/mainwindow/adventure_window.h"
#include "client/mainwindow/client_paths.h"
#include "engine/gl/gl_renderer.h"

namespace tarvo::client {
namespace {

namespace fs = std::filesystem;

// Whether this display can give the 3D view the OpenGL it draws with.
bool OpenGlAvailable() {
  if (QGuiApplication::platformName() == "offscreen") return false;
  QOpenGLContext context;
  context.setFormat(engine::gl::RendererFormat());
  return context.create();
}

// The configuration lives beside the program, as on a first install in a user's own folder;
// where that is read-only or a system folder (an installed package, even run by root), in the
// user's configuration folder.
fs::path DefaultConfigDirectory() {
  fs::path program = ProgramDirectory();
  if (!base::IsReadOnlyOrSystemFolder(program)) return program;
  // A first run has no such folder yet, and no save could succeed without it.
  fs::path folder =
      QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString();
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) std::cerr << "tarvo3d: cannot create " << folder << ": " << error.message() << "\n";
  return folder;
}

void FillConnectDialog(TConnectFrame& connect, const ClientOptions& options) {
  if (options.connect_port)
    connect.port_edit()->setText(QString::fromStdString(*options.connect_port));
  connect.server_box()->setCurrentText(QString::fromStdString(*options.connect_host));
  if (!options.account.empty())
    connect.account_edit()->setText(QString::fromStdString(options.account));
  if (!options.password.empty())
    connect.password_edit()->setText(QString::fromStdString(options.password));
  if (!options.nickname.empty())
    connect.nickname_edit()->setText(QString::fromStdString(options.nickname));
}

}  // namespace

int RunClient(const ClientOptions& options) {
  if (!OpenGlAvailable()) {
    QMessageBox::critical(nullptr, TAdventure::kCaption,
                          "This display offers no OpenGL 3.3, which the 3D view needs.");
    return 1;
  }

  // The forms in their binding order: each later one reads what the earlier ones set.
  ClientSettings settings;
  TAdventure window(DefaultClientPaths(ProgramDirectory()));
  TMoreOptions more_options(window.world(), settings,
                            options.config_dir.value_or(DefaultConfigDirectory()),
                            OpenUserSettings(), &window);
  TConnectFrame connect(window.world(), settings, more_options, window);
  TEditLook edit_look(window.world(), more_options, &window);
  window.SetOptionsDialog(&more_options);
  window.SetEditLookDialog(&edit_look);

  std::optional<int> exit_code;
  const int quit_ms = static_cast<int>(options.quit_after * 1000);
  if (options.screenshot) {
    const std::string file = options.screenshot->string();
    QTimer::singleShot(quit_ms, &window, [&window, &exit_code, file] {
      const bool saved = window.SaveScreenshot(file);
      if (!saved) std::cerr << "tarvo3d: cannot write " << file << "\n";
      exit_code = saved ? 0 : 1;
      QApplication::quit();
    });
  } else if (options.quit_after > 0) {
    QTimer::singleShot(quit_ms, QCoreApplication::instance(), &QApplication::quit);
  }

  connect.show();
  if (options.connect_host) {
    FillConnectDialog(connect, options);
    if (!options.wait_for_start) connect.Start();
  }
  const int code = QApplication::exec();
  return exit_code.value_or(code);
}

}  // namespace tarvo::client
