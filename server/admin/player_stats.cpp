#include "server/admin/player_stats.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "server/accounts/ui/edit_account.h"
#include "server/accounts/ui/field_text.h"
#include "server/accounts/ui/key_preview.h"
#include "server/accounts/ui/latin1.h"
#include "server/accounts/ui/session_key.h"
#include "server/admin/send_message.h"
#include "server/core/file_store.h"
#include "server/core/server_level.h"

namespace tarvo::server {

namespace {

struct Column {
  const char* caption;
  int width;
};

constexpr std::array<Column, 10> kColumns = {{{"Nickname", 85},
                                              {"Account", 70},
                                              {"Level", 85},
                                              {"x", 50},
                                              {"y/height", 60},
                                              {"z", 50},
                                              {"view angle", 70},
                                              {"headx", 45},
                                              {"bodyx", 45},
                                              {"bodytex", 60}}};
// Columns from "x" on are centred.
constexpr int kFirstCentredColumn = 3;

QStringList RowTexts(const TServerPlayer& session) {
  const protocol::PropertySet& v = session.values();
  const auto number = [&v](int index) { return ToQString(FormatNumber(v.Number(index))); };
  const TServerLevel* level = session.level();
  return {ToQString(v.Text(protocol::kPropNickname)),
          ToQString(session.account_name()),
          level != nullptr ? ToQString(BaseNameLower(level->path())) : QString("(no level)"),
          number(protocol::kPropX),
          number(protocol::kPropY),
          number(protocol::kPropZ),
          number(protocol::kPropViewAngle),
          ToQString(v.Text(protocol::kPropHeadMesh)),
          ToQString(v.Text(protocol::kPropBodyMesh)),
          ToQString(v.Text(protocol::kPropBodyTexture))};
}

}  // namespace

TPlayerStats::TPlayerStats(TServerFrame& server, TEditAccount& editor, QWidget* parent)
    : QWidget(parent),
      server_(server),
      editor_(editor),
      send_dialog_(std::make_unique<TSendFrame>(server)) {
  setWindowTitle("Player statistics");
  players_list_ = new QTreeWidget;
  players_list_->setObjectName("players_list");
  players_list_->setRootIsDecorated(false);
  players_list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  players_list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  players_list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  players_list_->setColumnCount(static_cast<int>(kColumns.size()));
  QStringList captions;
  for (const Column& c : kColumns) captions << c.caption;
  players_list_->setHeaderLabels(captions);
  for (int i = 0; i < static_cast<int>(kColumns.size()); ++i) {
    players_list_->setColumnWidth(i, kColumns[static_cast<std::size_t>(i)].width);
    if (i >= kFirstCentredColumn) players_list_->headerItem()->setTextAlignment(i, Qt::AlignCenter);
  }

  update_button_ = new QPushButton("&Update");
  disconnect_button_ = new QPushButton("&Disconnect");
  edit_button_ = new QPushButton("&Edit");
  message_button_ = new QPushButton("Message");
  message_all_button_ = new QPushButton("Message To All");
  close_button_ = new QPushButton("&Close");
  update_button_->setObjectName("update_button");
  disconnect_button_->setObjectName("disconnect_button");
  edit_button_->setObjectName("edit_button");
  message_button_->setObjectName("message_button");
  message_all_button_->setObjectName("message_all_button");
  close_button_->setObjectName("close_button");
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {update_button_, disconnect_button_, edit_button_, message_button_,
                         message_all_button_, close_button_})
    buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(players_list_, 1);
  layout->addLayout(buttons);
  resize(640, 300);

  connect(players_list_, &QTreeWidget::itemSelectionChanged, this, [this] { UpdateButtons(); });
  connect(players_list_, &QTreeWidget::itemDoubleClicked, this, [this] { EditSelectedPlayer(); });
  connect(update_button_, &QPushButton::clicked, this, [this] { Fill(); });
  connect(disconnect_button_, &QPushButton::clicked, this, [this] { DisconnectSelectedPlayer(); });
  connect(edit_button_, &QPushButton::clicked, this, [this] { EditSelectedPlayer(); });
  connect(message_button_, &QPushButton::clicked, this, [this] { MessageSelectedPlayer(); });
  connect(message_all_button_, &QPushButton::clicked, this, [this] { MessageAllPlayers(); });
  connect(close_button_, &QPushButton::clicked, this, [this] { hide(); });
  new KeyPreview(*this, [this](QObject& target, QKeyEvent& key) {
    switch (key.key()) {
      case Qt::Key_Delete:
        DisconnectSelectedPlayer();
        return true;
      case Qt::Key_Escape:
        hide();
        return true;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        if (&target != players_list_) return false;
        EditSelectedPlayer();
        return true;
      default:
        return false;
    }
  });
  editor_.SetOnApplied([this] {
    if (isVisible()) Fill();
  });
  UpdateButtons();
}

TPlayerStats::~TPlayerStats() { editor_.SetOnApplied({}); }

void TPlayerStats::Fill() {
  players_list_->setUpdatesEnabled(false);
  players_list_->clear();
  snapshot_.clear();
  for (const auto& session : server_.player_sessions()) {
    if (!session) continue;
    auto* row = new QTreeWidgetItem(RowTexts(*session));
    for (int i = kFirstCentredColumn; i < static_cast<int>(kColumns.size()); ++i)
      row->setTextAlignment(i, Qt::AlignCenter);
    players_list_->addTopLevelItem(row);
    snapshot_.push_back(session->serial());
  }
  players_list_->setUpdatesEnabled(true);
  UpdateButtons();
}

bool TPlayerStats::HasSelection() const { return !players_list_->selectedItems().isEmpty(); }

TServerPlayer* TPlayerStats::FirstSelectedSession() const {
  int first = -1;
  for (QTreeWidgetItem* item : players_list_->selectedItems()) {
    const int row = players_list_->indexOfTopLevelItem(item);
    if (row >= 0 && (first < 0 || row < first)) first = row;
  }
  if (first < 0 || static_cast<std::size_t>(first) >= snapshot_.size()) return nullptr;
  return FindPlayerSession(server_, snapshot_[static_cast<std::size_t>(first)]);
}

void TPlayerStats::UpdateButtons() {
  const bool selected = HasSelection();
  disconnect_button_->setEnabled(selected);
  message_button_->setEnabled(selected);
  edit_button_->setEnabled(selected && FirstSelectedSession() != nullptr);
  message_all_button_->setEnabled(!server_.player_sessions().empty());
}

void TPlayerStats::DisconnectSelectedPlayer() {
  if (!HasSelection()) return;
  if (TServerPlayer* session = FirstSelectedSession())
    session->Disconnect(kDisconnectedByAdmin);  // also refreshes the session count
  Fill();
}

void TPlayerStats::EditSelectedPlayer() {
  TServerPlayer* session = FirstSelectedSession();
  if (session == nullptr) return;
  if (TServerAccount* account = session->account()) {
    server_.accounts().RefreshStoredProperties(*account);
    editor_.OpenEditor(*account, /*account_fields_enabled=*/true);
    return;
  }
  // A player without an account (a guest among them) is edited through a record of its own,
  // which reaches the player on Apply and never joins the account list.
  std::unique_ptr<TServerAccount> record = server_.accounts().CreateAccount();
  record->Name = session->account_name();
  record->Properties = session->StoredPropertyText();
  editor_.OpenEditor(std::move(record), /*is_new=*/false, /*account_fields_enabled=*/false,
                     session->serial());
}

void TPlayerStats::MessageSelectedPlayer() {
  TServerPlayer* session = FirstSelectedSession();
  if (session == nullptr) return;
  send_dialog_->OpenForPlayer(session->serial(), session->values().Text(protocol::kPropNickname));
}

void TPlayerStats::MessageAllPlayers() {
  if (server_.player_sessions().empty()) return;
  send_dialog_->OpenForAll();
}

void TPlayerStats::AccountViewChanged(const TServerAccount& /*account*/) {
  if (isVisible()) Fill();
}

void TPlayerStats::showEvent(QShowEvent* event) {
  Fill();
  QWidget::showEvent(event);
}

}  // namespace tarvo::server
