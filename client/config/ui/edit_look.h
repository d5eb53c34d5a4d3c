#pragma once

#include <QDialog>

#include "client/world/client_world.h"

class QLineEdit;
class QPushButton;

namespace tarvo::client {

class TMoreOptions;

/// The edit-look dialog: the local player's three look files and three colours. Apply gives
/// them to the avatar at once (and to the server with the next report); hiding saves them.
class TEditLook final : public QDialog {
 public:
  /// Edits the local player of `world`; `options` saves the configuration. Starts hidden.
  TEditLook(ClientWorld& world, TMoreOptions& options, QWidget* parent = nullptr);

  /// Applies the edits to the local player as a local change, through a player with the defaults
  /// of a new one: a colour that does not parse goes back to its default.
  void ApplyLook();

  /// "0x" and at least six upper-case hexadecimal digits.
  static QString ColourText(std::uint32_t colour);

  /// "Bodyx:" (`BodyMesh`).
  QLineEdit* body_mesh_edit() const { return body_mesh_edit_; }
  /// "Headx:" (`HeadMesh`).
  QLineEdit* head_mesh_edit() const { return head_mesh_edit_; }
  /// "Bodytex:" (`BodyTex`).
  QLineEdit* body_texture_edit() const { return body_texture_edit_; }
  /// "Armcolor:" (`ArmColor`).
  QLineEdit* arm_colour_edit() const { return arm_colour_edit_; }
  /// "Shoecolor:" (`ShoeColor`).
  QLineEdit* shoe_colour_edit() const { return shoe_colour_edit_; }
  /// "Handcolor:" (`HandColor`).
  QLineEdit* hand_colour_edit() const { return hand_colour_edit_; }
  /// "&Apply".
  QPushButton* apply_button() const { return apply_button_; }
  /// "&Close": hides the dialog.
  QPushButton* close_button() const { return close_button_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  ClientWorld& world_;
  TMoreOptions& options_;
  QLineEdit* body_mesh_edit_;
  QLineEdit* head_mesh_edit_;
  QLineEdit* body_texture_edit_;
  QLineEdit* arm_colour_edit_;
  QLineEdit* shoe_colour_edit_;
  QLineEdit* hand_colour_edit_;
  QPushButton* apply_button_;
  QPushButton* close_button_;
};

}  // namespace tarvo::client
