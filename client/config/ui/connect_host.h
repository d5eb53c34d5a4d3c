#pragma once

#include <filesystem>
#include <memory>

#include "client/session/adventure_client.h"
#include "client/session/session_host.h"

namespace tarvo::client {

/// What the connect dialog needs of the program around it: its Start opens the main window and
/// the session, and closing it without Start ends the program. The main window implements it.
class ConnectHost {
 public:
  virtual ~ConnectHost() = default;
  /// The folder of the client's bundled pictures; the dialog's background is connect.jpg there.
  virtual std::filesystem::path AssetDirectory() = 0;
  /// Shows the main window; Start calls it after saving the configuration, before connecting.
  virtual void ShowMainWindow() = 0;
  /// Shows the session's message boxes over the main window and loads the levels it receives.
  virtual SessionHost& SessionHostForStart() = 0;
  /// The new session's options: where received level files go, the connect timeout.
  virtual SessionOptions SessionOptionsForStart() = 0;
  /// Takes over the session that Start created, connected or not, for the rest of the run.
  virtual void AdoptSession(std::unique_ptr<TAdventureClient> session) = 0;
  /// Ends the program: Escape in the dialog, or the dialog closed without Start.
  virtual void EndProgram() = 0;
};

}  // namespace tarvo::client
