// tarvo3d: the game client. Shows the connect dialog; Start opens the main window and the session.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QComboBox>
#include <QMessageBox>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "base/files.h"
#include "client/config/configuration.h"
#include "client/config/ui/connect_frame.h"
#include "client/config/ui/edit_look.h"
#include "client/config/ui/more_options.h"
#include "client/config/user_store.h"
#include "client/mainwindow/adventure_window.h"
#include "client/mainwindow/client_paths.h"
#include "engine/gl/gl_renderer.h"

namespace {

namespace fs = std::filesystem;
using namespace tarvo::client;

// Whether this display can give the 3D view the OpenGL it draws with.
bool OpenGlAvailable() {
  if (QGuiApplication::platformName() == "offscreen") return false;
  QOpenGLContext context;
  context.setFormat(tarvo::engine::gl::RendererFormat());
  return context.create();
}

// The configuration lives beside the program, as on a first install in a user's own folder;
// where that is read-only or a system folder (an installed package, even run by root), in the
// user's configuration folder.
fs::path DefaultConfigDirectory() {
  fs::path program = ProgramDirectory();
  if (!tarvo::base::IsReadOnlyOrSystemFolder(program)) return program;
  // A first run has no such folder yet, and no save could succeed without it.
  fs::path folder =
      QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString();
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) std::cerr << "tarvo3d: cannot create " << folder << ": " << error.message() << "\n";
  return folder;
}

}  // namespace

static int RunProgram(int argc, char** argv) {
  std::string connect_to, account, password, nickname, config_dir, screenshot;
  double quit_after = 0;
  bool wait_for_start = false;
  CLI::App cli{
      "Tarvo 3D, the game client: walk, run, jump and chat with the other players of a "
      "level. Without options it shows the connect dialog.\n"
      "Keys: numeric keypad 8/2 ahead and back, 4/6 sideways, 5 jump, 0 freezes the camera "
      "(or the arrow keys, Space and Insert); F1 options, F2 edit look, F12 screenshot, "
      "Alt+Enter full screen, Esc quits; click the chat line to type, Enter sends it."};
  cli.add_option("--connect", connect_to,
                 "Fill the connect dialog with HOST[:PORT] and start at once");
  cli.add_flag("--wait", wait_for_start,
               "With --connect: fill the connect dialog but leave Start to the player");
  cli.add_option("--account", account, "Account name for --connect");
  cli.add_option("--password", password, "Password for --connect");
  cli.add_option("--nickname", nickname, "Nickname for --connect");
  cli.add_option("--config-dir", config_dir,
                 "Folder of tarvo3dconfig.txt (default: beside the program when writable and not a "
                 "system folder)");
  cli.add_option("--screenshot", screenshot,
                 "Save a picture of the main window to FILE (PNG) at --quit-after and quit");
  cli.add_option("--quit-after", quit_after, "Quit after SECONDS")->check(CLI::PositiveNumber);
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return cli.exit(error);
  }
  if (!screenshot.empty() && quit_after <= 0) {
    std::cerr << "tarvo3d: --screenshot needs --quit-after SECONDS\n";
    return 2;
  }

  QApplication::setOrganizationName("Tarvo3D");
  QApplication::setApplicationName("tarvo3d");
  QApplication app(argc, argv);
  if (!OpenGlAvailable()) {
    QMessageBox::critical(nullptr, TAdventure::kCaption,
                          "This display offers no OpenGL 3.3, which the 3D view needs.");
    return 1;
  }

  // The forms in their binding order: each later one reads what the earlier ones set.
  ClientSettings settings;
  TAdventure window(DefaultClientPaths(ProgramDirectory()));
  TMoreOptions options(window.world(), settings,
                       config_dir.empty() ? DefaultConfigDirectory() : fs::path(config_dir),
                       OpenUserSettings(), &window);
  TConnectFrame connect(window.world(), settings, options, window);
  TEditLook edit_look(window.world(), options, &window);
  window.SetOptionsDialog(&options);
  window.SetEditLookDialog(&edit_look);

  std::optional<int> exit_code;
  if (!screenshot.empty()) {
    QTimer::singleShot(static_cast<int>(quit_after * 1000), &window, [&] {
      const bool saved = window.SaveScreenshot(screenshot);
      if (!saved) std::cerr << "tarvo3d: cannot write " << screenshot << "\n";
      exit_code = saved ? 0 : 1;
      QApplication::quit();
    });
  } else if (quit_after > 0) {
    QTimer::singleShot(static_cast<int>(quit_after * 1000), &app, &QApplication::quit);
  }

  connect.show();
  if (!connect_to.empty()) {
    std::string host = connect_to;
    if (const size_t colon = host.rfind(':'); colon != std::string::npos) {
      connect.port_edit()->setText(QString::fromStdString(host.substr(colon + 1)));
      host.resize(colon);
    }
    connect.server_box()->setCurrentText(QString::fromStdString(host));
    if (!account.empty()) connect.account_edit()->setText(QString::fromStdString(account));
    if (!password.empty()) connect.password_edit()->setText(QString::fromStdString(password));
    if (!nickname.empty()) connect.nickname_edit()->setText(QString::fromStdString(nickname));
    if (!wait_for_start) connect.Start();
  }
  const int code = app.exec();
  return exit_code.value_or(code);
}

int main(int argc, char** argv) {
  // A failure nobody handled still ends with a line saying what it was.
  try {
    return RunProgram(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", "tarvo3d", error.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", "tarvo3d");
  }
  return 1;
}
