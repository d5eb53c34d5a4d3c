#include "server/admin/start_frame.h"

#include <spdlog/spdlog.h>

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/core/server_config.h"

namespace tarvo::server {

TStartFrame::TStartFrame(std::filesystem::path config_file, StartFunction start, QWidget* parent)
    : QDialog(parent),
      config_file_(std::move(config_file)),
      start_(std::move(start)),
      end_program_([](int status) { QCoreApplication::exit(status); }),
      port_text_(ReadServerConfig(config_file_)) {
  setWindowTitle("Start Tarvo3D Server");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::WindowStaysOnTopHint);
  auto* options = new QGroupBox("Options", this);
  port_edit_ = new QLineEdit(QString::fromStdString(port_text_), options);
  auto* port_label = new QLabel("Start on port:", options);
  port_label->setBuddy(port_edit_);
  auto* options_layout = new QFormLayout(options);
  options_layout->addRow(port_label, port_edit_);

  ok_button_ = new QPushButton("&OK", this);
  cancel_button_ = new QPushButton("&Cancel", this);
  // Enter in the port field presses OK.
  ok_button_->setDefault(true);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(ok_button_, QDialogButtonBox::AcceptRole);
  buttons->addButton(cancel_button_, QDialogButtonBox::RejectRole);
  connect(ok_button_, &QPushButton::clicked, this, [this] { StartWithEnteredPort(); });
  connect(cancel_button_, &QPushButton::clicked, this, [this] { reject(); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(options);
  layout->addWidget(buttons);
}

void TStartFrame::SetPortText(const std::string& port_text) {
  port_text_ = port_text;
  port_edit_->setText(QString::fromStdString(port_text));
}

void TStartFrame::SetEndProgram(std::function<void(int status)> end_program) {
  end_program_ = std::move(end_program);
}

void TStartFrame::StartWithEnteredPort() {
  port_text_ = port_edit_->text().toStdString();
  // Written before the start, so that a text the start refuses is offered again next time.
  if (const auto written = WriteServerConfig(config_file_, port_text_); !written)
    spdlog::warn("the port was not saved for the next start: {}", written.error());
  const StartOutcome outcome = start_(port_text_);
  switch (outcome.kind) {
    case StartOutcome::Kind::kStarted:
      hide();
      break;
    case StartOutcome::Kind::kInvalidPort:
      QMessageBox::critical(this, "KServer", QString::fromStdString(outcome.message));
      break;
    case StartOutcome::Kind::kFailed:
      QMessageBox::warning(this, "Warning", "The server could not be started!");
      hide();
      end_program_(1);
      break;
  }
}

void TStartFrame::reject() {
  hide();
  end_program_(0);
}

}  // namespace tarvo::server
