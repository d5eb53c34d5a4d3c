#include "server/accounts/ui/edit_account.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "net/address.h"
#include "server/accounts/stored_properties.h"
#include "server/accounts/ui/field_text.h"
#include "server/accounts/ui/key_preview.h"
#include "server/accounts/ui/latin1.h"
#include "server/accounts/ui/session_key.h"

namespace tarvo::server {

namespace {

// The password field masks with "*" whatever the platform's style would use.
class StarPasswordStyle final : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

QLineEdit* AddField(QFormLayout& form, const char* caption, const char* role) {
  auto* edit = new QLineEdit;
  edit->setObjectName(role);
  form.addRow(caption, edit);
  return edit;
}

std::string FieldBytes(const QLineEdit& edit) { return ToBytes(edit.text()); }

}  // namespace

TEditAccount::TEditAccount(TServerFrame& server) : server_(server) {
  setWindowTitle("Edit Account");

  auto* account_box = new QGroupBox("Account properties");
  auto* account_form = new QFormLayout(account_box);
  name_edit_ = AddField(*account_form, "Name:", "name_edit");
  password_edit_ = AddField(*account_form, "Password:", "password_edit");
  password_edit_->setEchoMode(QLineEdit::Password);
  auto* star_style = new StarPasswordStyle;
  star_style->setParent(this);
  password_edit_->setStyle(star_style);
  load_only_check_ = new QCheckBox("Load only");
  load_only_check_->setObjectName("load_only_check");
  blocked_check_ = new QCheckBox("Blocked");
  blocked_check_->setObjectName("blocked_check");
  account_form->addRow(load_only_check_);
  account_form->addRow(blocked_check_);
  rights_group_ = new QButtonGroup(this);
  for (int rights = 0; rights < static_cast<int>(kRightsCaptions.size()); ++rights) {
    auto* button = new QRadioButton(ToQString(kRightsCaptions[static_cast<std::size_t>(rights)]));
    button->setObjectName(QString("rights_button_%1").arg(rights));
    rights_group_->addButton(button, rights);
    account_form->addRow(button);
  }
  last_ip_edit_ = AddField(*account_form, "Last IP:", "last_ip_edit");
  last_ip_edit_->setEnabled(false);

  apply_button_ = new QPushButton("&Apply");
  apply_button_->setObjectName("apply_button");
  cancel_button_ = new QPushButton("&Cancel");
  cancel_button_->setObjectName("cancel_button");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(apply_button_);
  buttons->addWidget(cancel_button_);

  auto* player_box = new QGroupBox("Player properties");
  auto* player_form = new QFormLayout(player_box);
  level_edit_ = AddField(*player_form, "Level:", "level_edit");
  x_edit_ = AddField(*player_form, "x:", "x_edit");
  y_edit_ = AddField(*player_form, "y:", "y_edit");
  z_edit_ = AddField(*player_form, "z:", "z_edit");
  view_angle_edit_ = AddField(*player_form, "View angle:", "view_angle_edit");

  auto* look_box = new QGroupBox("Player look");
  auto* look_form = new QFormLayout(look_box);
  body_mesh_edit_ = AddField(*look_form, "Bodyx:", "body_mesh_edit");
  head_mesh_edit_ = AddField(*look_form, "Headx:", "head_mesh_edit");
  body_texture_edit_ = AddField(*look_form, "Bodytex:", "body_texture_edit");
  arm_colour_edit_ = AddField(*look_form, "Armcolor:", "arm_colour_edit");
  shoe_colour_edit_ = AddField(*look_form, "Showcolor:", "shoe_colour_edit");
  hand_colour_edit_ = AddField(*look_form, "Handcolor:", "hand_colour_edit");

  auto* left = new QVBoxLayout;
  left->addWidget(account_box);
  left->addLayout(buttons);
  left->addStretch();
  auto* right = new QVBoxLayout;
  right->addWidget(player_box);
  right->addWidget(look_box);
  right->addStretch();
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left);
  layout->addLayout(right);

  connect(apply_button_, &QPushButton::clicked, this, [this] { ApplyEditor(); });
  connect(cancel_button_, &QPushButton::clicked, this, [this] { hide(); });
  new KeyPreview(*this, [this](QObject&, QKeyEvent& key) {
    if (key.key() != Qt::Key_Escape) return false;
    hide();
    return true;
  });
}

TEditAccount::~TEditAccount() = default;

TServerAccount* TEditAccount::Held() const {
  if (owned_) return owned_.get();
  return listed_id_ != 0 ? server_.accounts().FindById(listed_id_) : nullptr;
}

const TServerAccount* TEditAccount::record() const { return Held(); }

void TEditAccount::Forget() {
  owned_.reset();
  listed_id_ = 0;
  is_new_ = false;
  session_serial_ = 0;
}

void TEditAccount::OpenEditor(TServerAccount& account, bool account_fields_enabled) {
  Forget();
  listed_id_ = account.Id;
  FillAndShow(account, account_fields_enabled);
}

void TEditAccount::OpenEditor(std::unique_ptr<TServerAccount> record, bool is_new,
                              bool account_fields_enabled, std::uint64_t session_serial) {
  Forget();
  if (!record) return;
  owned_ = std::move(record);
  is_new_ = is_new;
  session_serial_ = session_serial;
  FillAndShow(*owned_, account_fields_enabled);
}

void TEditAccount::FillAndShow(const TServerAccount& record, bool account_fields_enabled) {
  account_fields_enabled_ = account_fields_enabled;
  name_edit_->setText(ToQString(record.Name));
  password_edit_->setText(ToQString(record.Password));
  load_only_check_->setChecked(record.LoadOnly);
  blocked_check_->setChecked(record.Blocked);
  rights_group_->button(std::clamp(record.Rights, 0, 3))->setChecked(true);

  const protocol::PropertySet values = DecodeStoredProperties(record.Properties);
  const auto number = [&values](int index) {
    return ToQString(FormatNumber(values.Number(index)));
  };
  const auto colour = [&values](int index) {
    return ToQString(
        FormatColour(static_cast<std::uint32_t>(static_cast<std::int64_t>(values.Number(index)))));
  };
  last_ip_edit_->setText(ToQString(net::FormatIpv4(static_cast<std::uint32_t>(
      static_cast<std::int64_t>(values.Number(protocol::kPropAddress))))));
  level_edit_->setText(ToQString(values.Text(protocol::kPropLevelName)));
  x_edit_->setText(number(protocol::kPropX));
  y_edit_->setText(number(protocol::kPropY));
  z_edit_->setText(number(protocol::kPropZ));
  view_angle_edit_->setText(number(protocol::kPropViewAngle));
  body_mesh_edit_->setText(ToQString(values.Text(protocol::kPropBodyMesh)));
  head_mesh_edit_->setText(ToQString(values.Text(protocol::kPropHeadMesh)));
  body_texture_edit_->setText(ToQString(values.Text(protocol::kPropBodyTexture)));
  arm_colour_edit_->setText(colour(protocol::kPropArmColour));
  shoe_colour_edit_->setText(colour(protocol::kPropShoeColour));
  hand_colour_edit_->setText(colour(protocol::kPropHandColour));

  for (QWidget* w : std::initializer_list<QWidget*>{name_edit_, password_edit_, load_only_check_,
                                                    blocked_check_})
    w->setEnabled(account_fields_enabled);
  for (QAbstractButton* button : rights_group_->buttons())
    button->setEnabled(account_fields_enabled);
  for (QWidget* w :
       std::initializer_list<QWidget*>{body_mesh_edit_, head_mesh_edit_, body_texture_edit_,
                                       arm_colour_edit_, shoe_colour_edit_, hand_colour_edit_})
    w->setEnabled(!account_fields_enabled);

  if (name_edit_->isEnabled()) name_edit_->setFocus();
  show();
  raise();
  activateWindow();
}

void TEditAccount::WriteFields(TServerAccount& record) const {
  // Fields the operator could not change leave the record as it is: a temporary record is not
  // renamed by trimming the name its player logged in with.
  if (account_fields_enabled_) {
    record.Name = std::string(TrimBlanks(FieldBytes(*name_edit_)));
    record.Password = std::string(TrimBlanks(FieldBytes(*password_edit_)));
    record.LoadOnly = load_only_check_->isChecked();
    record.Blocked = blocked_check_->isChecked();
    record.Rights = std::max(rights_group_->checkedId(), 0);
  }
  protocol::PropertySet values = DecodeStoredProperties(record.Properties);
  values.SetText(protocol::kPropLevelName, TrimBlanks(FieldBytes(*level_edit_)));
  const auto number = [&values](int index, const QLineEdit& edit) {
    if (const auto parsed = ParseNumber(FieldBytes(edit))) values.SetNumber(index, *parsed);
  };
  number(protocol::kPropX, *x_edit_);
  number(protocol::kPropY, *y_edit_);
  number(protocol::kPropZ, *z_edit_);
  number(protocol::kPropViewAngle, *view_angle_edit_);
  // The look of a player with an account is its own: the disabled look fields hold what it
  // wore when the editor opened, which must not undo a change it made since.
  if (!account_fields_enabled_) {
    values.SetText(protocol::kPropBodyMesh, FieldBytes(*body_mesh_edit_));
    values.SetText(protocol::kPropHeadMesh, FieldBytes(*head_mesh_edit_));
    values.SetText(protocol::kPropBodyTexture, FieldBytes(*body_texture_edit_));
    const auto colour = [&values](int index, const QLineEdit& edit) {
      if (const auto parsed = ParseInteger(FieldBytes(edit)))
        values.SetNumber(index, static_cast<std::uint32_t>(*parsed));
    };
    colour(protocol::kPropArmColour, *arm_colour_edit_);
    colour(protocol::kPropShoeColour, *shoe_colour_edit_);
    colour(protocol::kPropHandColour, *hand_colour_edit_);
  }
  record.Properties = EncodeStoredProperties(values);
}

void TEditAccount::ApplyEditor() {
  TServerAccount* record = Held();
  if (record == nullptr) {
    hide();
    return;
  }
  AccountStore& accounts = server_.accounts();
  TServerPlayer* session = nullptr;
  if (is_new_) {
    WriteFields(*owned_);
    record = &accounts.AddAccount(std::move(owned_));  // the account entry notice
  } else if (owned_) {
    // A temporary record: nobody outside this window knows it, so no notice names it.
    WriteFields(*record);
    session = FindPlayerSession(server_, session_serial_);
  } else {
    // From the player's values of now, so that what the editor does not write stays current.
    accounts.RefreshStoredProperties(*record);
    // The status and name notices leave when the change ends.
    accounts.ChangeAccount(*record, [this](TServerAccount& a) { WriteFields(a); });
    if (IsPlayerSession(server_, record->Session)) session = record->Session;
  }
  if (session != nullptr) session->ApplyAccount(*record);
  // The accounts window, like every other view, hears of it from the core.
  if (accounts.Contains(record)) server_.observer().AccountViewChanged(*record);
  if (on_applied_) on_applied_();
  Forget();
  hide();
}

void TEditAccount::AccountRemoved(const TServerAccount& account) {
  if (owned_ || listed_id_ == 0 || listed_id_ != account.Id) return;
  Forget();
  hide();
  auto* box =
      new QMessageBox(QMessageBox::Information, "Edit Account",
                      QString("The account \"%1\" has been deleted; the changes were not applied.")
                          .arg(ToQString(account.Name)),
                      QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  // Not modal: this runs inside the server's tick, which must not be entered again.
  box->show();
}

void TEditAccount::hideEvent(QHideEvent* event) {
  // Minimising the window is no end of the edit.
  if (!event->spontaneous()) Forget();
  QWidget::hideEvent(event);
}

}  // namespace tarvo::server
