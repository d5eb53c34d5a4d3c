#include "client/config/ui/connect_frame.h"

#include <QComboBox>
#include <QCompleter>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QPushButton>

#include "client/config/comma_text.h"
#include "client/config/ui/dialog_support.h"
#include "client/config/ui/jpeg_picture.h"
#include "client/config/ui/more_options.h"

namespace tarvo::client {
namespace {

constexpr int kPictureWidth = 433;
constexpr int kPictureHeight = 321;
constexpr int kEditX = 114;
constexpr int kEditWidth = 185;
constexpr int kEditHeight = 24;

struct Row {
  const char* label;
  int y;
};
constexpr Row kRows[] = {
    {"Nickname", 96}, {"Server IP", 135}, {"Port", 171}, {"Account", 208}, {"Password", 246}};

class StarPasswordStyle final : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* data) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, data);
  }
};

// Without its picture the dialog would show edits without labels; a plain board keeps it usable.
QImage PlainBackground() {
  QImage image(kPictureWidth, kPictureHeight, QImage::Format_RGB32);
  image.fill(QColor(140, 90, 45));
  QPainter painter(&image);
  QFont font(QStringLiteral("Sans Serif"));
  font.setPixelSize(15);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(QColor(255, 240, 200));
  for (const Row& row : kRows) {
    painter.drawText(QRect(10, row.y, 96, kEditHeight), Qt::AlignRight | Qt::AlignVCenter,
                     QString::fromLatin1(row.label));
  }
  return image;
}

void ColourField(QWidget& field) {
  QPalette palette = field.palette();
  palette.setColor(QPalette::Base, QColor(64, 0, 0));
  palette.setColor(QPalette::Text, Qt::white);
  palette.setColor(QPalette::Button, QColor(64, 0, 0));
  palette.setColor(QPalette::ButtonText, Qt::white);
  field.setPalette(palette);
  QFont font = field.font();
  font.setPixelSize(15);
  field.setFont(font);
}

}  // namespace

TConnectFrame::TConnectFrame(ClientWorld& world, ClientSettings& settings, TMoreOptions& options,
                             ConnectHost& host)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMinimizeButtonHint),
      world_(world),
      settings_(settings),
      options_(options),
      host_(host) {
  setWindowTitle(QStringLiteral("Tarvo 3D"));
  // The picture fills the client area; the window frame adds the rest of the outer 441 x 349.
  setFixedSize(kPictureWidth, kPictureHeight);
  QFont form_font(QStringLiteral("Sans Serif"));
  form_font.setPixelSize(14);
  setFont(form_font);

  background_ = new QLabel(this);
  background_->setGeometry(0, 0, kPictureWidth, kPictureHeight);
  QImage picture = ReadJpegFile(host_.AssetDirectory() / "connect.jpg");
  if (picture.isNull()) picture = PlainBackground();
  background_->setPixmap(QPixmap::fromImage(picture));

  const auto place = [](QWidget* field, int y) {
    field->setGeometry(kEditX, y, kEditWidth, kEditHeight);
    ColourField(*field);
    if (auto* edit = qobject_cast<QLineEdit*>(field)) AcceptLatin1Only(*edit);
  };
  nickname_edit_ = new QLineEdit(this);
  place(nickname_edit_, kRows[0].y);
  server_box_ = new QComboBox(this);
  server_box_->setEditable(true);
  // The history changes only on Start, never by Enter in the box.
  server_box_->setInsertPolicy(QComboBox::NoInsert);
  // An address is kept in the letter case typed, not completed into a listed one's case.
  server_box_->completer()->setCaseSensitivity(Qt::CaseSensitive);
  place(server_box_, kRows[1].y);
  AcceptLatin1Only(*server_box_->lineEdit());
  port_edit_ = new QLineEdit(this);
  place(port_edit_, kRows[2].y);
  account_edit_ = new QLineEdit(this);
  place(account_edit_, kRows[3].y);
  password_edit_ = new QLineEdit(this);
  password_edit_->setEchoMode(QLineEdit::Password);
  auto* star_style = new StarPasswordStyle;
  star_style->setParent(password_edit_);  // lives as long as the edit draws
  password_edit_->setStyle(star_style);
  place(password_edit_, kRows[4].y);
  start_button_ = new QPushButton(QStringLiteral("&Start"), this);
  start_button_->setGeometry(336, 272, 75, 28);
  QPalette button_palette = start_button_->palette();
  button_palette.setColor(QPalette::ButtonText, Qt::black);
  start_button_->setPalette(button_palette);
  start_button_->setDefault(true);
  connect(start_button_, &QPushButton::clicked, this, [this] { Start(); });

  // Filled from what the options dialog loaded.
  nickname_edit_->setText(EditText(world_.LocalPlayer().Nickname));
  for (const std::string& address : FromCommaText(settings_.ServerHistory)) {
    server_box_->addItem(EditText(address));
  }
  server_box_->setEditText(server_box_->count() > 0 ? server_box_->itemText(0)
                                                    : EditText(settings_.ServerAddress));
  port_edit_->setText(EditText(settings_.ServerPort));
  account_edit_->setText(EditText(settings_.AccountName));
  password_edit_->setText(EditText(settings_.AccountPassword));

  InstallKeyPreview(*this);
  CentreOnScreen(*this);
}

void TConnectFrame::Start() {
  if (started_) return;
  world_.LocalPlayer().Nickname = SettingText(nickname_edit_->text());
  settings_.ServerAddress = SettingText(server_box_->currentText());
  std::vector<std::string> history;
  history.reserve(static_cast<std::size_t>(server_box_->count()));
  for (int i = 0; i < server_box_->count(); ++i) {
    history.push_back(SettingText(server_box_->itemText(i)));
  }
  history = RememberServerAddress(std::move(history), settings_.ServerAddress);
  server_box_->clear();
  for (const std::string& address : history) server_box_->addItem(EditText(address));
  server_box_->setEditText(EditText(settings_.ServerAddress));
  settings_.ServerHistory = ToCommaText(history);
  settings_.ServerPort = SettingText(port_edit_->text());
  settings_.AccountName = SettingText(account_edit_->text());
  settings_.AccountPassword = SettingText(password_edit_->text());

  started_ = true;
  hide();
  options_.SaveConfiguration();
  host_.ShowMainWindow();
  // The session becomes current by itself when it gets that far; its failures are shown over
  // the main window, which stays open either way.
  host_.AdoptSession(std::make_unique<TAdventureClient>(
      settings_, world_, host_.SessionHostForStart(), host_.SessionOptionsForStart()));
}

void TConnectFrame::EndProgramOnce() {
  if (ending_) return;
  ending_ = true;
  host_.EndProgram();
}

void TConnectFrame::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  // Minimizing hides the window too, but only closing it ends the program.
  if (event->spontaneous() || started_) return;
  EndProgramOnce();
}

bool TConnectFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    EndProgramOnce();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace tarvo::client
