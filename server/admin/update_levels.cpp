#include "server/admin/update_levels.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "server/core/file_store.h"
#include "server/core/server_frame.h"

namespace tarvo::server {
namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

QStringList ChooseWithFileDialog(QWidget* parent, const LevelFileRequest& request) {
  return QFileDialog::getOpenFileNames(parent, request.caption, request.directory, request.filter);
}

}  // namespace

std::vector<std::string> SplitLevelNames(std::string_view text) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view name = Trim(text.substr(start, comma - start));
    if (!name.empty()) names.emplace_back(name);
    start = comma + 1;
  }
  return names;
}

TUpdateLevels::TUpdateLevels(TServerFrame& server, LevelFileChooser choose_files, QWidget* parent)
    : QDialog(parent),
      server_(server),
      choose_files_(choose_files ? std::move(choose_files) : ChooseWithFileDialog) {
  setWindowTitle("Update Levels");
  auto* group = new QGroupBox("Level names", this);
  auto* note = new QLabel(
      "Type in the names of levels that should be reloaded if they are already loaded into the "
      "server level cache.",
      group);
  note->setWordWrap(true);
  names_edit_ = new QLineEdit(group);
  browse_button_ = new QPushButton("&Browse", group);
  auto* names_row = new QHBoxLayout;
  names_row->addWidget(names_edit_);
  names_row->addWidget(browse_button_);
  auto* group_layout = new QVBoxLayout(group);
  group_layout->addWidget(note);
  group_layout->addLayout(names_row);

  update_button_ = new QPushButton("&Update", this);
  cancel_button_ = new QPushButton("&Cancel", this);
  update_button_->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(update_button_);
  buttons->addWidget(cancel_button_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addLayout(buttons);

  connect(browse_button_, &QPushButton::clicked, this, [this] { ChooseLevelFiles(); });
  connect(update_button_, &QPushButton::clicked, this, [this] { ReloadNamedLevels(); });
  connect(cancel_button_, &QPushButton::clicked, this, [this] { reject(); });
}

void TUpdateLevels::showEvent(QShowEvent* event) {
  names_edit_->clear();
  levels_directory_ = QString::fromStdString(server_.files().levels_directory().string());
  QDialog::showEvent(event);
}

void TUpdateLevels::ChooseLevelFiles() {
  const QStringList files =
      choose_files_(this, {"Open", levels_directory_, QString(kLevelFileFilter)});
  if (files.isEmpty()) return;
  QStringList names;
  for (const QString& file : files)
    names.append(QString::fromStdString(BaseNameLower(file.toStdString())));
  names_edit_->setText(names.join(", "));
}

void TUpdateLevels::ReloadNamedLevels() {
  const std::vector<std::string> names = SplitLevelNames(names_edit_->text().toStdString());
  server_.ReloadLevels(names);
}

}  // namespace tarvo::server
