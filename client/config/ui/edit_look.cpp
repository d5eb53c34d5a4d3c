#include "client/config/ui/edit_look.h"

#include <QGroupBox>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <cstdio>

#include "client/config/integer_parser.h"
#include "client/config/ui/dialog_support.h"
#include "client/config/ui/more_options.h"
#include "protocol/properties.h"

namespace tarvo::client {
namespace {

// The look's properties in the order Apply sends them.
constexpr std::array<int, 6> kLookCodes = {protocol::kPropBodyMesh,    protocol::kPropHeadMesh,
                                           protocol::kPropBodyTexture, protocol::kPropArmColour,
                                           protocol::kPropShoeColour,  protocol::kPropHandColour};

void SetColourIfParses(std::uint32_t& colour, const QLineEdit& edit) {
  if (const auto parsed = ParseInteger(SettingText(edit.text()))) {
    colour = static_cast<std::uint32_t>(*parsed);
  }
}

}  // namespace

TEditLook::TEditLook(ClientWorld& world, TMoreOptions& options, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      world_(world),
      options_(options) {
  setWindowTitle(QStringLiteral("Edit look"));
  setFixedSize(394, 188);
  QFont form_font(QStringLiteral("Sans Serif"));
  form_font.setPixelSize(14);
  setFont(form_font);

  auto* group = new QGroupBox(QStringLiteral("Player look"), this);
  group->setGeometry(8, 8, 378, 136);
  const auto add_row = [group](const char* label, int column, int row) {
    const int x = 10 + column * 184;
    const int y = 26 + row * 34;
    auto* text = new QLabel(QString::fromLatin1(label), group);
    text->setGeometry(x, y, 80, 24);
    auto* edit = new QLineEdit(group);
    edit->setGeometry(x + 82, y, 92, 24);
    text->setBuddy(edit);
    AcceptLatin1Only(*edit);
    return edit;
  };
  body_mesh_edit_ = add_row("Bodyx:", 0, 0);
  head_mesh_edit_ = add_row("Headx:", 0, 1);
  body_texture_edit_ = add_row("Bodytex:", 0, 2);
  arm_colour_edit_ = add_row("Armcolor:", 1, 0);
  shoe_colour_edit_ = add_row("Shoecolor:", 1, 1);
  hand_colour_edit_ = add_row("Handcolor:", 1, 2);
  apply_button_ = new QPushButton(QStringLiteral("&Apply"), this);
  apply_button_->setGeometry(230, 154, 75, 26);
  close_button_ = new QPushButton(QStringLiteral("&Close"), this);
  close_button_->setGeometry(311, 154, 75, 26);
  connect(apply_button_, &QPushButton::clicked, this, [this] { ApplyLook(); });
  connect(close_button_, &QPushButton::clicked, this, [this] { hide(); });

  InstallKeyPreview(*this);
  CentreOnScreen(*this);
}

QString TEditLook::ColourText(std::uint32_t colour) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(colour));
  return QString::fromLatin1(text);
}

void TEditLook::ApplyLook() {
  // Not part of the world's lists: it only lends its defaults and its encodings.
  TPlayer scratch(world_);
  scratch.BodyMesh = SettingText(body_mesh_edit_->text());
  scratch.HeadMesh = SettingText(head_mesh_edit_->text());
  scratch.BodyTex = SettingText(body_texture_edit_->text());
  SetColourIfParses(scratch.ArmColor, *arm_colour_edit_);
  SetColourIfParses(scratch.ShoeColor, *shoe_colour_edit_);
  SetColourIfParses(scratch.HandColor, *hand_colour_edit_);
  std::string text;
  for (const int code : kLookCodes) {
    text.push_back(static_cast<char>(code + 32));
    text += scratch.EncodeProperty(code);
  }
  world_.LocalPlayer().ApplyProperties(text, true);
}

void TEditLook::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // restored by the window system, not shown anew
  const TPlayer& me = world_.LocalPlayer();
  body_mesh_edit_->setText(EditText(me.BodyMesh));
  head_mesh_edit_->setText(EditText(me.HeadMesh));
  body_texture_edit_->setText(EditText(me.BodyTex));
  arm_colour_edit_->setText(ColourText(me.ArmColor));
  shoe_colour_edit_->setText(ColourText(me.ShoeColor));
  hand_colour_edit_->setText(ColourText(me.HandColor));
}

void TEditLook::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (event->spontaneous()) return;  // minimized, not closed
  options_.SaveConfiguration();
}

bool TEditLook::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    hide();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace tarvo::client
