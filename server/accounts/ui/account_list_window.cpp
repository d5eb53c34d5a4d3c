#include "server/accounts/ui/account_list_window.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "server/accounts/ui/account_images.h"
#include "server/accounts/ui/key_preview.h"
#include "server/accounts/ui/latin1.h"

namespace tarvo::server {

namespace {

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// Byte order of the lower-cased names (char_traits compares bytes as unsigned).
bool NameLess(const TServerAccount* a, const TServerAccount* b) {
  return LowerAscii(a->Name) < LowerAscii(b->Name);
}

// The list control with type-ahead over the account names (not over "(noname)").
class AccountListView final : public QListView {
 public:
  std::function<int(const std::string&, int)> find;

  void keyboardSearch(const QString& search) override {
    if (search.isEmpty() || !find || model() == nullptr) return;
    const bool fresh =
        !typed_.isValid() || typed_.elapsed() > QApplication::keyboardInputInterval();
    typed_.restart();
    const int current = currentIndex().isValid() ? currentIndex().row() : -1;
    int start = 0;
    if (fresh) {
      text_ = search;
      start = current + 1;  // a new search looks past the entry it stands on
    } else {
      text_ += search;
      start = std::max(current, 0);
    }
    const int row = find(LowerAscii(ToBytes(text_.toLower())), start);
    if (row < 0) {
      clearSelection();
      setCurrentIndex(QModelIndex());
      return;
    }
    setCurrentIndex(model()->index(row, 0));
  }

 private:
  QString text_;
  QElapsedTimer typed_;
};

}  // namespace

/// The virtual list: a count and, per position, the text and image asked for as it paints.
class AccountViewModel final : public QAbstractListModel {
 public:
  explicit AccountViewModel(TAccountList& window) : QAbstractListModel(&window), window_(window) {}

  int rowCount(const QModelIndex& parent) const override {
    return parent.isValid() ? 0 : static_cast<int>(window_.view_.size());
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() < 0 ||
        static_cast<std::size_t>(index.row()) >= window_.view_.size())
      return {};
    const TServerAccount& account = *window_.view_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole)
      return ToQString(account.Name.empty() ? kNoName : std::string_view(account.Name));
    if (role == Qt::DecorationRole) {
      const AccountImage image = account.LoadOnly             ? AccountImage::kEmptyChair
                                 : account.Session != nullptr ? AccountImage::kOnTheMove
                                                              : AccountImage::kSleeping;
      return window_.images_[static_cast<std::size_t>(image)];
    }
    return {};
  }

  Qt::ItemFlags flags(const QModelIndex& index) const override {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
  }

  void BeginInsert(int row) { beginInsertRows({}, row, row); }
  void EndInsert() { endInsertRows(); }
  void BeginRemove(int row) { beginRemoveRows({}, row, row); }
  void EndRemove() { endRemoveRows(); }
  void BeginReset() { beginResetModel(); }
  void EndReset() { endResetModel(); }
  void Repaint(int row) { emit dataChanged(index(row, 0), index(row, 0)); }

 private:
  TAccountList& window_;
};

TAccountList::TAccountList(TServerFrame& server, QWidget* parent)
    : QWidget(parent), server_(server) {
  setWindowTitle("Accounts");
  for (int i = 0; i < 5; ++i)
    images_[static_cast<std::size_t>(i)] = QIcon(DrawAccountImage(static_cast<AccountImage>(i)));
  editor_ = std::make_unique<TEditAccount>(server);
  model_ = new AccountViewModel(*this);

  groups_tree_ = new QTreeWidget;
  groups_tree_->setObjectName("groups_tree");
  groups_tree_->setHeaderHidden(true);
  groups_tree_->setIconSize(QSize(16, 16));
  auto* root = new QTreeWidgetItem(groups_tree_, QStringList("Accounts"));
  for (std::string_view caption : kAccountGroupCaptions)
    new QTreeWidgetItem(root, QStringList(ToQString(caption)));
  root->setExpanded(true);
  groups_tree_->setCurrentItem(root);

  auto* list = new AccountListView;
  list->find = [this](const std::string& prefix, int start) { return FindByPrefix(prefix, start); };
  accounts_list_ = list;
  accounts_list_->setObjectName("accounts_list");
  accounts_list_->setModel(model_);
  accounts_list_->setIconSize(QSize(16, 16));
  accounts_list_->setSelectionMode(QAbstractItemView::SingleSelection);
  accounts_list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  accounts_list_->setFlow(QListView::TopToBottom);
  accounts_list_->setWrapping(true);
  accounts_list_->setResizeMode(QListView::Adjust);

  auto* splitter = new QSplitter;
  splitter->addWidget(groups_tree_);
  splitter->addWidget(accounts_list_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({190, 270});

  add_button_ = new QPushButton("&Add");
  delete_button_ = new QPushButton("&Delete");
  edit_button_ = new QPushButton("&Edit");
  close_button_ = new QPushButton("&Close");
  add_button_->setObjectName("add_button");
  delete_button_->setObjectName("delete_button");
  edit_button_->setObjectName("edit_button");
  close_button_->setObjectName("close_button");
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {add_button_, delete_button_, edit_button_, close_button_})
    buttons->addWidget(b);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(splitter, 1);
  layout->addLayout(buttons);
  resize(460, 320);

  UpdateTreeImages();
  UpdateButtons();
  connect(groups_tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (item == nullptr) return;
    SetFilter(item->parent() == nullptr ? -1 : item->parent()->indexOfChild(item));
  });
  connect(accounts_list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { UpdateButtons(); });
  connect(accounts_list_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) {
    if (i.isValid()) EditSelectedAccount();
  });
  connect(add_button_, &QPushButton::clicked, this, [this] { OpenNewAccountEditor(); });
  connect(delete_button_, &QPushButton::clicked, this, [this] { DeleteSelectedAccount(); });
  connect(edit_button_, &QPushButton::clicked, this, [this] { EditSelectedAccount(); });
  connect(close_button_, &QPushButton::clicked, this, [this] { hide(); });
  new KeyPreview(*this, [this](QObject& target, QKeyEvent& key) {
    switch (key.key()) {
      case Qt::Key_Insert:
        OpenNewAccountEditor();
        return true;
      case Qt::Key_Delete:
        DeleteSelectedAccount();
        return true;
      case Qt::Key_Escape:
        hide();
        return true;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        if (&target != accounts_list_) return false;
        EditSelectedAccount();
        return true;
      default:
        return false;
    }
  });
}

TAccountList::~TAccountList() = default;

void TAccountList::AddToView(TServerAccount& account) {
  const auto present = std::find(view_.begin(), view_.end(), &account);
  if (present != view_.end()) {
    // Kept in place (a rename waits for the next rebuild); its text or image may differ.
    model_->Repaint(static_cast<int>(present - view_.begin()));
    return;
  }
  if (filter_ != -1 && AccountGroup(account) != filter_) return;
  const auto place = std::upper_bound(view_.begin(), view_.end(), &account, NameLess);
  const int row = static_cast<int>(place - view_.begin());
  model_->BeginInsert(row);
  view_.insert(place, &account);
  model_->EndInsert();
}

void TAccountList::RebuildView() {
  model_->BeginReset();
  view_.clear();
  for (const auto& account : server_.accounts().accounts()) {
    if (filter_ == -1 || AccountGroup(*account) == filter_) view_.push_back(account.get());
  }
  std::stable_sort(view_.begin(), view_.end(), NameLess);
  model_->EndReset();
  UpdateButtons();
}

void TAccountList::SetFilter(int filter) {
  if (filter == filter_) return;
  filter_ = filter;
  RebuildView();
  UpdateTreeImages();
}

void TAccountList::UpdateTreeImages() {
  QTreeWidgetItem* root = groups_tree_->topLevelItem(0);
  const auto image = [this](bool current) {
    return images_[static_cast<std::size_t>(current ? AccountImage::kOpenFolder
                                                    : AccountImage::kClosedFolder)];
  };
  root->setIcon(0, image(filter_ == -1));
  for (int i = 0; i < root->childCount(); ++i) root->child(i)->setIcon(0, image(filter_ == i));
}

void TAccountList::UpdateButtons() {
  const bool selected = accounts_list_->selectionModel()->hasSelection();
  delete_button_->setEnabled(selected);
  edit_button_->setEnabled(selected);
}

TServerAccount* TAccountList::SelectedAccount() const {
  const QModelIndexList selected = accounts_list_->selectionModel()->selectedIndexes();
  if (selected.isEmpty()) return nullptr;
  const int row = selected.front().row();
  if (row < 0 || static_cast<std::size_t>(row) >= view_.size()) return nullptr;
  return view_[static_cast<std::size_t>(row)];
}

int TAccountList::FindByPrefix(const std::string& prefix, int start) const {
  const int count = static_cast<int>(view_.size());
  if (count == 0) return -1;
  start = std::clamp(start, 0, count) % count;
  for (int i = 0; i < count; ++i) {
    const int row = (start + i) % count;
    if (LowerAscii(view_[static_cast<std::size_t>(row)]->Name).starts_with(prefix)) return row;
  }
  return -1;
}

void TAccountList::OpenNewAccountEditor() {
  std::unique_ptr<TServerAccount> record = server_.accounts().CreateAccount();
  if (filter_ == 0) record->LoadOnly = true;
  if (filter_ >= 2) record->Rights = filter_ - 1;
  editor_->OpenEditor(std::move(record), /*is_new=*/true, /*account_fields_enabled=*/true);
}

void TAccountList::DeleteSelectedAccount() {
  const TServerAccount* account = SelectedAccount();
  if (account == nullptr) return;
  // Ids are never given twice, so the account asked about is found again only if it still exists.
  const std::int32_t id = account->Id;
  QMessageBox question(
      QMessageBox::Question, "Question",
      "Do you really want to delete the account \"" + ToQString(account->Name) + "\" ?",
      QMessageBox::Ok | QMessageBox::Cancel, this);
  // The server keeps running while the question is open.
  if (question.exec() != QMessageBox::Ok) return;
  TServerAccount* still = server_.accounts().FindById(id);
  if (still == nullptr) return;
  // Out of the view first: the view must never hold a freed record, even where the removal
  // notice is not routed here.
  RemoveFromView(still);
  server_.accounts().RemoveAccount(still);
}

void TAccountList::EditSelectedAccount() {
  TServerAccount* account = SelectedAccount();
  if (account == nullptr) return;
  server_.accounts().RefreshStoredProperties(*account);
  editor_->OpenEditor(*account, /*account_fields_enabled=*/true);
}

void TAccountList::ServerStarted(const ServerStartInfo& /*info*/) { RebuildView(); }

void TAccountList::AccountViewChanged(const TServerAccount& account) {
  if (TServerAccount* listed = server_.accounts().FindById(account.Id)) AddToView(*listed);
}

void TAccountList::RemoveFromView(const TServerAccount* account) {
  const auto it = std::find(view_.begin(), view_.end(), account);
  if (it == view_.end()) return;
  const int row = static_cast<int>(it - view_.begin());
  model_->BeginRemove(row);
  view_.erase(it);
  model_->EndRemove();
  UpdateButtons();
}

void TAccountList::AccountRemoved(const TServerAccount& account) {
  RemoveFromView(&account);
  editor_->AccountRemoved(account);
}

void TAccountList::showEvent(QShowEvent* event) {
  UpdateButtons();
  QWidget::showEvent(event);
}

}  // namespace tarvo::server
