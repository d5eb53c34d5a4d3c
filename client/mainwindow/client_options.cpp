#include "client/mainwindow/client_options.h"

#include <CLI/CLI.hpp>

#include "base/cli_parse.h"

namespace tarvo::client {

ClientCommandLine ParseClientOptions(int argc, const char* const* argv) {
  ClientOptions o;
  std::string connect_to, config_dir, screenshot;
  CLI::App cli{
      "Tarvo 3D, the game client: walk, run, jump and chat with the other players of a "
      "level. Without options it shows the connect dialog.\n"
      "Keys: numeric keypad 8/2 ahead and back, 4/6 sideways, 5 jump, 0 freezes the camera "
      "(or the arrow keys, Space and Insert); F1 options, F2 edit look, F12 screenshot, "
      "Alt+Enter full screen, Esc quits; click the chat line to type, Enter sends it."};
  cli.add_option("--connect", connect_to,
                 "Fill the connect dialog with HOST[:PORT] and start at once");
  cli.add_flag("--wait", o.wait_for_start,
               "With --connect: fill the connect dialog but leave Start to the player");
  cli.add_option("--account", o.account, "Account name for --connect");
  cli.add_option("--password", o.password, "Password for --connect");
  cli.add_option("--nickname", o.nickname, "Nickname for --connect");
  cli.add_option("--config-dir", config_dir,
                 "Folder of tarvo3dconfig.txt (default: beside the program when writable and not a "
                 "system folder)");
  cli.add_option("--screenshot", screenshot,
                 "Save a picture of the main window to FILE (PNG) at --quit-after and quit");
  cli.add_option("--quit-after", o.quit_after, "Quit after SECONDS")->check(CLI::PositiveNumber);
  if (auto ended = base::ParseOrEnd<ClientCommandLine>(cli, argc, argv)) return *ended;
  if (!screenshot.empty() && o.quit_after <= 0) {
    return ClientCommandLine::Refuse(2, "tarvo3d: --screenshot needs --quit-after SECONDS\n");
  }
  if (!connect_to.empty()) {
    // The port follows the last colon.
    if (const size_t colon = connect_to.rfind(':'); colon != std::string::npos) {
      o.connect_port = connect_to.substr(colon + 1);
      connect_to.resize(colon);
    }
    o.connect_host = connect_to;
  }
  if (!config_dir.empty()) o.config_dir = config_dir;
  if (!screenshot.empty()) o.screenshot = screenshot;
  ClientCommandLine line;
  line.options = std::move(o);
  return line;
}

}  // namespace tarvo::client
