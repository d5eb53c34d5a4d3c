#pragma once

#include <QIcon>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

#include "server/accounts/ui/edit_account.h"
#include "server/core/server_frame.h"
#include "server/core/server_observer.h"

class QListView;
class QPushButton;
class QTreeWidget;

namespace tarvo::server {

class AccountViewModel;

/// The accounts window ("Accounts"): a tree of the five account groups and a list of the
/// accounts of the group selected, sorted by name, with Add, Delete and Edit. Its view owns
/// nothing and follows the account list through the server's notices, which the program routes
/// to this window as a `ServerObserver`. Owns the account editor.
class TAccountList final : public QWidget, public QuietObserver {
 public:
  explicit TAccountList(TServerFrame& server, QWidget* parent = nullptr);
  ~TAccountList() override;

  TEditAccount& editor() { return *editor_; }

  /// Inserts the account at its sorted place when it belongs to the filter and is not shown.
  void AddToView(TServerAccount& account);
  /// Refills the view from the account list for the current filter.
  void RebuildView();
  /// The accounts shown, in list order.
  const std::vector<TServerAccount*>& view() const { return view_; }
  /// −1 for all accounts, else the group shown (0..4).
  int filter() const { return filter_; }

  // ServerObserver
  void ServerStarted(const ServerStartInfo& info) override;
  void AccountViewChanged(const TServerAccount& account) override;
  void AccountRemoved(const TServerAccount& account) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void SetFilter(int filter);
  void RemoveFromView(const TServerAccount* account);
  void UpdateTreeImages();
  void UpdateButtons();
  // The account at the selected position, or nullptr.
  TServerAccount* SelectedAccount() const;
  // The first position from `start` on, wrapping once, whose name starts with `prefix`.
  int FindByPrefix(const std::string& prefix, int start) const;
  void OpenNewAccountEditor();
  void DeleteSelectedAccount();
  void EditSelectedAccount();

  TServerFrame& server_;
  int filter_ = -1;
  std::vector<TServerAccount*> view_;
  std::array<QIcon, 5> images_;
  std::unique_ptr<TEditAccount> editor_;
  AccountViewModel* model_;
  QTreeWidget* groups_tree_;
  QListView* accounts_list_;
  QPushButton* add_button_;
  QPushButton* delete_button_;
  QPushButton* edit_button_;
  QPushButton* close_button_;

  friend class AccountViewModel;
};

}  // namespace tarvo::server
