#include "server/app/windowed_server.h"

#include <QCoreApplication>
#include <QWidget>

#include "server/core/server_config.h"

namespace tarvo::server {

namespace {

// The operator's windows are shown, never modal.
void ShowWindow(QWidget& window) {
  window.show();
  window.raise();
  window.activateWindow();
}

}  // namespace

WindowedServer::WindowedServer(WindowedOptions options,
                               const std::vector<ServerObserver*>& observers)
    : server_(options.directory, &observers_, nullptr, options.current_directory),
      end_program_([](int status) { QCoreApplication::exit(status); }) {
  server_.SetLimits(options.limits);
  server_.SetListenAddress(options.listen_address);
  for (ServerObserver* observer : observers) observers_.Add(observer);
  const auto end = [this](int status) { end_program_(status); };

  // The forms in program order: main window, start dialog, then the operator's windows.
  main_window_ = std::make_unique<ServerMainWindow>(server_, options.tray_available);
  main_window_->SetEndProgram(end);
  observers_.Add(main_window_.get());

  start_dialog_ = std::make_unique<TStartFrame>(
      options.directory / kServerConfigFileName, [this](const std::string& port_text) {
        StartOutcome outcome = main_window_->StartServer(port_text);
        if (outcome.kind == StartOutcome::Kind::kFailed)
          observers_.Note("The server could not be started! " + outcome.message);
        return outcome;
      });
  if (options.port_text) start_dialog_->SetPortText(*options.port_text);
  start_dialog_->SetEndProgram(end);

  accounts_window_ = std::make_unique<TAccountList>(server_);
  player_stats_ = std::make_unique<TPlayerStats>(server_, accounts_window_->editor());
  observers_.Add(player_stats_.get());
  observers_.Add(accounts_window_.get());
  main_window_->SetViewPlayersHook([this] { ShowWindow(*player_stats_); });
  main_window_->SetEditAccountsHook([this] { ShowWindow(*accounts_window_); });

  update_levels_dialog_ =
      std::make_unique<TUpdateLevels>(server_, std::move(options.choose_level_files));
  main_window_->SetUpdateLevelsHook([this] { ShowWindow(*update_levels_dialog_); });
}

WindowedServer::~WindowedServer() {
  // The core's last goodbyes must not reach windows that are already freed.
  observers_.Clear();
}

void WindowedServer::Show() { start_dialog_->show(); }

void WindowedServer::Stop() {
  if (server_.running()) {
    main_window_->Shutdown();
  } else {
    start_dialog_->hide();
    end_program_(0);
  }
}

void WindowedServer::SetEndProgram(std::function<void(int status)> end_program) {
  end_program_ = std::move(end_program);
}

}  // namespace tarvo::server
