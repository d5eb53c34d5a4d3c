#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "server/core/server_frame.h"

class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tarvo::server {

/// The account editor ("Edit Account"): one account's name, password, flags and rights and its
/// stored player properties. It holds an account of the account list by its `Id`, or owns a
/// record the list does not hold (a new account, or a temporary record for a player without an
/// account); an owned record that was not applied is discarded when the editor hides.
class TEditAccount final : public QWidget {
 public:
  explicit TEditAccount(TServerFrame& server);
  ~TEditAccount() override;

  /// Opens the editor on an account of the account list.
  void OpenEditor(TServerAccount& account, bool account_fields_enabled);
  /// Opens the editor on a record the list does not hold: a new account (`is_new`; it joins the
  /// list on Apply) or a temporary record for the player session with `session_serial`.
  void OpenEditor(std::unique_ptr<TServerAccount> record, bool is_new, bool account_fields_enabled,
                  std::uint64_t session_serial = 0);
  /// Writes the fields back into the record and hides the editor ("&Apply").
  void ApplyEditor();
  /// The account list is losing `account`: when the editor holds it, the editor lets go of it,
  /// says so and hides.
  void AccountRemoved(const TServerAccount& account);
  /// Called after every Apply that wrote a record (the player statistics refresh).
  void SetOnApplied(std::function<void()> hook) { on_applied_ = std::move(hook); }

  /// The record held, or nullptr.
  const TServerAccount* record() const;
  bool is_new() const { return is_new_; }

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  TServerAccount* Held() const;
  void FillAndShow(const TServerAccount& record, bool account_fields_enabled);
  void Forget();
  void WriteFields(TServerAccount& record) const;

  TServerFrame& server_;
  std::int32_t listed_id_ = 0;
  std::unique_ptr<TServerAccount> owned_;
  bool is_new_ = false;
  bool account_fields_enabled_ = true;
  std::uint64_t session_serial_ = 0;
  std::function<void()> on_applied_;

  QLineEdit* name_edit_;
  QLineEdit* password_edit_;
  QCheckBox* load_only_check_;
  QCheckBox* blocked_check_;
  QButtonGroup* rights_group_;
  QLineEdit* last_ip_edit_;
  QLineEdit* level_edit_;
  QLineEdit* x_edit_;
  QLineEdit* y_edit_;
  QLineEdit* z_edit_;
  QLineEdit* view_angle_edit_;
  QLineEdit* body_mesh_edit_;
  QLineEdit* head_mesh_edit_;
  QLineEdit* body_texture_edit_;
  QLineEdit* arm_colour_edit_;
  QLineEdit* shoe_colour_edit_;
  QLineEdit* hand_colour_edit_;
  QPushButton* apply_button_;
  QPushButton* cancel_button_;
};

}  // namespace tarvo::server
