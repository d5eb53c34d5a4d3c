#pragma once

#include <atomic>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/kserverctl/decoding.h"
#include "tools/kserverctl/format.h"
#include "tools/kserverctl/remote_session.h"

namespace CLI {  // NOLINT(readability-identifier-naming): the library's own name
class App;
}

namespace tarvo::kserverctl {

/// The fields of an account that `set-account` and `set-player` change; unset ones stay.
struct AccountEdit {
  std::optional<std::string> name;      ///< UTF-8
  std::optional<std::string> password;  ///< UTF-8
  std::optional<int> rights;
  std::optional<bool> guest;
  std::optional<bool> blocked;
  std::vector<std::string> sets;  ///< "key=value" property assignments

  bool empty() const { return !name && !password && !rights && !guest && !blocked && sets.empty(); }
};

/// Everything the command line says.
struct Options {
  SessionOptions session;
  double timeout_seconds = 5;
  bool json = false;
  std::string command;             ///< the subcommand's name
  std::string target;              ///< account number, player id or a name
  std::vector<std::string> words;  ///< message text or level names
  // add-account
  std::string new_name;
  std::string new_password;
  int new_rights = 0;
  bool new_guest = false;
  bool new_blocked = false;
  // set-account, set-player
  AccountEdit edit;
  // watch
  bool timestamps = true;
};

/// Declares the options and subcommands on `app`, to be parsed into `options`.
void DefineCli(CLI::App& app, Options& options);
/// Checks what the parser cannot: the timeout and the property assignments. Throws CtlError.
void FinishOptions(Options& options);

/// Parses "key=value" assignments into property fields; "position=X,Y,Z" gives three. Only the
/// properties an account stores can be set. Throws CtlError with kExitUsage.
std::vector<PropertyField> ParseAssignments(const std::vector<std::string>& assignments);

/// The payload fields of a set-account or set-player command (wire texts).
struct MergedChange {
  std::string name;
  std::string password;  ///< empty keeps the old one
  std::string properties;
  int flags = 0;
};

/// The record to send: what the server has, with only the given fields changed. Properties keep
/// their received bytes unless set; entries are written in ascending code order, as stored.
/// Throws CtlError when the result cannot travel (a property text over 223 bytes).
MergedChange MergeChange(std::string_view current_name, int current_flags,
                         const PropertyList& current_properties, const AccountEdit& edit,
                         const std::vector<PropertyField>& assignments);

/// The edited fields that the server did not take, by reading the record back ("rights",
/// "level", ...). `name_now` is the name after the change.
std::vector<std::string> UnappliedFields(std::string_view name_now, int flags_now,
                                         const PropertyList& properties_now,
                                         const AccountEdit& edit,
                                         const std::vector<PropertyField>& assignments);

/// Runs the parsed command on an open session, writing results to `out`. `stop` ends `watch`.
/// Throws CtlError.
void RunCommand(RemoteSession& session, const Options& options, std::ostream& out,
                const std::atomic<bool>* stop);

/// Opens the session, runs the command and reports a failure on `err`; returns the exit
/// status.
int Run(const Options& options, std::ostream& out, std::ostream& err,
        const std::atomic<bool>* stop);

}  // namespace tarvo::kserverctl
