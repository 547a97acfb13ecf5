#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/wizard/elided_label.h"
#include "app/wizard/pages.h"
#include "app/wizard/wizard_texts.h"
#include "job/progress.h"
#include "options/conversion_options.h"
#include "options/recent_paths.h"
#include "platform/text.h"

namespace {
const char* const kLastSource = "LastMDBFile";
const char* const kRecentSources = "MDBfiles";

// A saved query's entry holds its name here; its text marks it as a query.
constexpr int kQueryNameRole = Qt::UserRole;

bool isQueryItem(const QListWidgetItem& item) { return item.data(kQueryNameRole).isValid(); }

// The name the entry stands for.
std::string itemName(const QListWidgetItem& item) {
  return (isQueryItem(item) ? item.data(kQueryNameRole).toString() : item.text()).toStdString();
}

// The table list sorts as a sorted list box does: without regard to case; the queries follow
// the tables.
class TableItem : public QListWidgetItem {
 public:
  using QListWidgetItem::QListWidgetItem;
  bool operator<(const QListWidgetItem& other) const override {
    if (isQueryItem(*this) != isQueryItem(other)) return !isQueryItem(*this);
    int order = text().compare(other.text(), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : text() < other.text();
  }
};
}  // namespace

SourcePage::SourcePage(ConversionWizard* wizard) : WizardPage(wizard) {
  setTitle(QStringLiteral("Select Access file"));
  setSubTitle(QStringLiteral("Click 'Browse' button"));

  auto* prompt = new QLabel(QStringLiteral("You should enter the name of a .MDB file:"), this);
  // Made in reading order, which is the order Tab walks them: "?" sits at the top right.
  QPushButton* help = makeHelpButton(wizard, this, "source");
  path_ = new QComboBox(this);
  path_->setObjectName(QStringLiteral("control1017"));
  path_->setEditable(true);
  path_->setInsertPolicy(QComboBox::NoInsert);
  path_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  auto* browseButton = new QPushButton(QStringLiteral("&Browse"), this);
  browseButton->setObjectName(QStringLiteral("control1012"));

  tables_ = new QListWidget(this);
  tables_->setObjectName(QStringLiteral("control1015"));
  tables_->setSortingEnabled(true);
  tables_->setSelectionMode(QAbstractItemView::MultiSelection);
  // Why the list is empty, when it is: the database did not open, or has no tables.
  whyEmpty_ = new ElidedLabel(QString(), this);
  whyEmpty_->setObjectName(QStringLiteral("emptyListReason"));

  auto* passwordPrompt = new QLabel(QStringLiteral("Password (if exist):"), this);
  password_ = new QLineEdit(this);
  password_->setObjectName(QStringLiteral("control1022"));
  auto* all = new QPushButton(QStringLiteral("+"), this);
  all->setObjectName(QStringLiteral("control1049"));
  auto* none = new QPushButton(QStringLiteral("-"), this);
  none->setObjectName(QStringLiteral("control1050"));
  for (QPushButton* small : {all, none}) small->setFixedWidth(small->fontMetrics().horizontalAdvance(QStringLiteral("+")) + 16);

  auto* top = new QHBoxLayout;
  top->addWidget(prompt, 1);
  top->addWidget(help);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(path_, 1);
  pathRow->addWidget(browseButton);
  auto* passwordRow = new QHBoxLayout;
  passwordRow->addWidget(passwordPrompt);
  passwordRow->addWidget(password_);
  passwordRow->addStretch(1);
  passwordRow->addWidget(all);
  passwordRow->addWidget(none);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(pathRow);
  layout->addWidget(tables_, 1);
  layout->addWidget(whyEmpty_);
  layout->addLayout(passwordRow);

  connect(browseButton, &QPushButton::clicked, this, [this] { command([this] { browse(); }); });
  connect(path_->lineEdit(), &QLineEdit::textEdited, this, [this] { command([this] { openFromField(); }); });
  connect(path_, qOverload<int>(&QComboBox::activated), this, [this](int index) {
    command([this, index] {
      std::string chosen = path_->itemText(index).toStdString();
      if (!chosen.empty()) openSource(chosen);
    });
  });
  connect(password_, &QLineEdit::textEdited, this, [this] { command([this] { openFromField(); }); });
  path_->installEventFilter(this);
  connect(tables_, &QListWidget::itemSelectionChanged, this, [this] { command(); });
  connect(all, &QPushButton::clicked, this, [this] { command([this] { tables_->selectAll(); }); });
  connect(none, &QPushButton::clicked, this, [this] { command([this] { tables_->clearSelection(); }); });
}

std::string SourcePage::passwordText() { return password_->text().toStdString(); }
void SourcePage::resetTableList() {
  tables_->clear();
  openFailure_.clear();
  relisted_ = true;
}
void SourcePage::openFailed(const std::string& reason) { openFailure_ = reason; }
void SourcePage::addTable(const std::string& name) { tables_->addItem(new TableItem(QString::fromStdString(name))); }
void SourcePage::selectAllTables() {
  for (int row = 0; row < tables_->count(); ++row)
    if (!isQueryItem(*tables_->item(row))) tables_->item(row)->setSelected(true);
}
void SourcePage::addQuery(const std::string& name) {
  auto* item = new TableItem(QString::fromStdString(name) + QStringLiteral(" (query)"));
  item->setData(kQueryNameRole, QString::fromStdString(name));
  tables_->addItem(item);
}

bool SourcePage::eventFilter(QObject* watched, QEvent* event) {
  // The field receiving the focus counts as a command, as it does for the other notifications.
  if (watched == path_ && event->type() == QEvent::FocusIn) command([this] { openFromField(); });
  return WizardPage::eventFilter(watched, event);
}

void SourcePage::openFromField() {
  std::string path = path_->currentText().toStdString();
  if (!path.empty()) openSource(path);
}

int SourcePage::openSource(const std::string& path) {
  bool filtered = options_->tableFilter.has_value();
  relisted_ = false;
  int result = OpenSourceDatabase(this, options_, path);
  if (relisted_) listFiltered_ = filtered && result == 0;
  showWhyEmpty();
  return result;
}

void SourcePage::showWhyEmpty() {
  QString why;
  if (tables_->count() == 0) {
    if (!openFailure_.empty())
      why = QString::fromStdString(openFailure_);
    else if (options_->database)
      why = listFiltered_ ? QStringLiteral("None of the tables named by /TABLES= is in this database.")
                          : QStringLiteral("This database has no tables.");
  }
  whyEmpty_->setText(why);
}

std::optional<std::string> SourcePage::choiceFilter() const {
  // Every table and no query is the default, which needs no /TABLES=.
  bool allTablesOnly = true;
  for (int row = 0; row < tables_->count(); ++row) {
    QListWidgetItem* item = tables_->item(row);
    if (item->isSelected() == isQueryItem(*item)) allTablesOnly = false;
  }
  if (allTablesOnly && !listFiltered_) return std::nullopt;
  std::string filter = ";";
  for (int row = 0; row < tables_->count(); ++row) {
    QListWidgetItem* item = tables_->item(row);
    if (item->isSelected()) filter += asciiUpper(itemName(*item)) + ";";
  }
  return filter;
}

void SourcePage::browse() {
  QString filter = flavourTexts(wizard_->setup().flavour).sourceFilter;
  // The dialog starts in the folder of the path in the field, with its file selected.
  QString start = path_->currentText();
  QString file = wizard_->setup().chooseFile
                     ? wizard_->setup().chooseFile(false, filter, start)
                     : QFileDialog::getOpenFileName(this, QString(), start, filter, nullptr,
                                                    QFileDialog::HideNameFilterDetails);
  if (file.isEmpty()) return;
  path_->setEditText(file);
  if (openSource(file.toStdString()) == 1) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), QStringLiteral("Unable to open this MDB file. "),
                    QMessageBox::Ok, this);
    box.setInformativeText(QString::fromStdString(openFailure_));
    box.exec();
  }
}

void SourcePage::afterCommand() { allowNext(!tables_->selectedItems().isEmpty()); }

void SourcePage::activated() {
  // A path in the field that is not open yet (the remembered database) opens now, as it would
  // when the field receives the focus; the field then has the focus for typing.
  path_->setFocus();
  openFromField();
  afterCommand();
}

void SourcePage::created() {
  if (!options_->password.empty()) password_->setText(QString::fromStdString(options_->password));
  QString field;
  bool open = false;
  if (!options_->sourcePath.empty()) {
    // Cleared so the reader cannot take the path for the one already open.
    field = QString::fromStdString(options_->sourcePath);
    options_->sourcePath.clear();
    open = true;
  } else if (LastPath last = readLastPath(kLastSource); last.found) {
    field = QString::fromStdString(last.text);
  }
  for (const std::string& recent : loadRecentList(kRecentSources)) path_->addItem(QString::fromStdString(recent));
  path_->setCurrentIndex(-1);
  path_->setEditText(field);
  if (open) openSource(field.toStdString());
  writeStatus(options_, kStatusSourceSelection);
  if (options_->batch) wizard_->pressNextLater();
}

bool SourcePage::validatePage() {
  std::string selected, queries;
  for (int row = 0; row < tables_->count(); ++row) {
    QListWidgetItem* item = tables_->item(row);
    if (item->isSelected()) (isQueryItem(*item) ? queries : selected) += ";" + itemName(*item) + ";";
  }
  if (selected.empty() && queries.empty()) {
    options_->batch = 0;
    return false;
  }
  options_->selectedTables = selected;
  // Queries chosen by hand are asked for by name: one that cannot run is a failure.
  options_->selectedQueries = queries;
  options_->namedQueries = queries;
  wizard_->setTableChoice({static_cast<int>(tables_->selectedItems().size()), choiceFilter()});
  writeLastPath(kLastSource, options_->sourcePath);
  updateRecentList(options_->sourcePath, kRecentSources);
  return true;
}
