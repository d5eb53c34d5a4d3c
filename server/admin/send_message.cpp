#include "server/admin/send_message.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/accounts/ui/latin1.h"
#include "server/accounts/ui/session_key.h"

namespace tarvo::server {

namespace {

// Byte 167 breaks the line in the client's message box.
constexpr std::string_view kAdministratorHeader = "Server administrator:\xA7";

}  // namespace

TSendFrame::TSendFrame(TServerFrame& server, QWidget* parent) : QDialog(parent), server_(server) {
  setWindowTitle("Send Message");
  auto* box = new QGroupBox("Message");
  auto* box_layout = new QVBoxLayout(box);
  auto* text = new QLabel("Type in the message that you want to send and press 'send' to do it.");
  text->setWordWrap(true);
  message_edit_ = new QLineEdit;
  message_edit_->setObjectName("message_edit");
  box_layout->addWidget(text);
  box_layout->addWidget(message_edit_);
  send_button_ = new QPushButton("Send");
  send_button_->setObjectName("send_button");
  send_button_->setDefault(true);
  cancel_button_ = new QPushButton("Cancel");
  cancel_button_->setObjectName("cancel_button");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(send_button_);
  buttons->addWidget(cancel_button_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box);
  layout->addLayout(buttons);

  connect(send_button_, &QPushButton::clicked, this, [this] { Send(); });
  connect(cancel_button_, &QPushButton::clicked, this, [this] { hide(); });
}

void TSendFrame::Open(const QString& caption) {
  message_edit_->clear();
  setWindowTitle(caption);
  show();
  raise();
  activateWindow();
  message_edit_->setFocus();
}

void TSendFrame::OpenForPlayer(std::uint64_t serial, std::string_view nickname) {
  to_all_ = false;
  target_serial_ = serial;
  Open("Send Message To " + ToQString(nickname));
}

void TSendFrame::OpenForAll() {
  to_all_ = true;
  target_serial_ = 0;
  Open("Send Message To All");
}

void TSendFrame::Send() {
  const std::string text = ToBytes(message_edit_->text());
  if (!text.empty()) {
    const std::string message = std::string(kAdministratorHeader) + text;
    if (to_all_) {
      server_.SendAdminMessageToAll(message);
    } else if (TServerPlayer* target = FindPlayerSession(server_, target_serial_)) {
      server_.SendAdminMessage(*target, message);
    }
  }
  hide();
}

}  // namespace tarvo::server
