#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/wizard/book_type_rule.h"
#include "app/wizard/pages.h"
#include "app/wizard/wizard_texts.h"
#include "job/progress.h"
#include "options/conversion_options.h"
#include "options/recent_paths.h"

namespace {
const char* const kLastOutput = "LastXLSFile";
// One list: value names are compared without regard to case.
const char* const kRecentOutputsRead = "XLSFiles";
const char* const kRecentOutputsWritten = "XLSfiles";

QCheckBox* checkBox(const char* text, const char* name, QWidget* parent) {
  auto* box = new QCheckBox(QString::fromUtf8(text), parent);
  box->setObjectName(QString::fromUtf8(name));
  return box;
}
}  // namespace

OutputPage::OutputPage(ConversionWizard* wizard) : WizardPage(wizard) {
  setTitle(QStringLiteral("Select the output file"));
  setSubTitle(QStringLiteral("Click 'Browse' button"));
  // Past this page the conversion starts and there is no way back.
  setCommitPage(true);
  setButtonText(QWizard::CommitButton, wizard->buttonText(QWizard::NextButton));

  auto* prompt = new QLabel(QStringLiteral("You should enter the name of the output .XLS file"), this);
  // Made in reading order, which is the order Tab walks them: "?" sits at the top right.
  QPushButton* help = makeHelpButton(wizard, this, "output");
  path_ = new QComboBox(this);
  path_->setObjectName(QStringLiteral("control200"));
  path_->setEditable(true);
  path_->setInsertPolicy(QComboBox::NoInsert);
  path_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  auto* browseButton = new QPushButton(QStringLiteral("&Browse"), this);
  browseButton->setObjectName(QStringLiteral("control1015"));

  overwriteFile_ = checkBox("Overwrite existing file", "control1018", this);
  overwriteTable_ = checkBox("Overwrite existing table", "control1019", this);
  header_ = checkBox("Header (names of fields)", "control1020", this);
  headerOnlyNew_ = checkBox("Only for new sheets", "control1022", this);
  typedCells_ = checkBox("Typed cells and table layout", "typedCells", this);
  valueFiles_ = checkBox("Save long values and files beside the workbook", "valueFiles", this);
  type_ = new QComboBox(this);
  type_->setObjectName(QStringLiteral("control1021"));
  type_->setSizeAdjustPolicy(QComboBox::AdjustToContents);

  auto* overwriteGroup = new QGroupBox(this);
  auto* overwriteLayout = new QVBoxLayout(overwriteGroup);
  overwriteLayout->addWidget(overwriteFile_);
  overwriteLayout->addWidget(overwriteTable_);
  auto* typeGroup = new QGroupBox(QStringLiteral("Excel file type"), this);
  auto* typeLayout = new QVBoxLayout(typeGroup);
  typeLayout->addWidget(type_);
  auto* headerGroup = new QGroupBox(this);
  auto* headerLayout = new QGridLayout(headerGroup);
  headerLayout->addWidget(header_, 0, 0, 1, 2);
  // The small tree connector that hangs the second box under the first.
  auto* connector = new QLabel(QStringLiteral("\u2514"), headerGroup);
  connector->setEnabled(false);
  headerLayout->addWidget(connector, 1, 0, Qt::AlignRight | Qt::AlignTop);
  headerLayout->addWidget(headerOnlyNew_, 1, 1);
  headerLayout->setColumnMinimumWidth(0, 18);
  headerLayout->setColumnStretch(1, 1);

  auto* choicesGroup = new QGroupBox(this);
  auto* choicesLayout = new QVBoxLayout(choicesGroup);
  choicesLayout->addWidget(typedCells_);
  choicesLayout->addWidget(valueFiles_);

  auto* top = new QHBoxLayout;
  top->addWidget(prompt, 1);
  top->addWidget(help);
  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(path_, 1);
  pathRow->addWidget(browseButton);
  auto* left = new QVBoxLayout;
  left->addWidget(overwriteGroup);
  left->addWidget(typeGroup);
  auto* right = new QVBoxLayout;
  right->addWidget(headerGroup);
  right->addStretch(1);
  auto* groups = new QHBoxLayout;
  groups->addLayout(left, 1);
  groups->addLayout(right, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(pathRow);
  layout->addLayout(groups);
  layout->addWidget(choicesGroup);
  layout->addStretch(1);

  // The boxes in reading order: the left column's boxes and type, then the right column's.
  setTabOrder(browseButton, overwriteFile_);
  setTabOrder(overwriteFile_, overwriteTable_);
  setTabOrder(overwriteTable_, type_);
  setTabOrder(type_, header_);
  setTabOrder(header_, headerOnlyNew_);
  setTabOrder(headerOnlyNew_, typedCells_);
  setTabOrder(typedCells_, valueFiles_);

  connect(browseButton, &QPushButton::clicked, this, [this] { command([this] { browse(); }); });
  // Any change of the field's text, typed, pasted, completed or picked from the list.
  connect(path_, &QComboBox::editTextChanged, this, [this] { command([this] { typeFromName(); }); });
  path_->installEventFilter(this);
  connect(overwriteFile_, &QCheckBox::clicked, this, [this](bool ticked) {
    command([this, ticked] {
      options_->overwriteFile = ticked ? 1 : 0;
      if (ticked) {
        overwriteTable_->setChecked(true);
        options_->overwriteTable = 1;
      }
      overwriteTable_->setEnabled(options_->overwriteFile == 0);
    });
  });
  connect(overwriteTable_, &QCheckBox::clicked, this,
          [this](bool ticked) { command([this, ticked] { options_->overwriteTable = ticked ? 1 : 0; }); });
  connect(header_, &QCheckBox::clicked, this,
          [this](bool ticked) { command([this, ticked] { options_->writeHeader = ticked ? 1 : 0; }); });
  connect(headerOnlyNew_, &QCheckBox::clicked, this,
          [this](bool ticked) { command([this, ticked] { options_->headerOnlyForNewSheets = ticked ? 1 : 0; }); });
  connect(typedCells_, &QCheckBox::clicked, this, [this] {
    command([this] {
      // One click sets both switches, also when the command line gave only one (a half tick).
      bool ticked = typedCells_->checkState() != Qt::Unchecked;
      typedCells_->setTristate(false);
      typedCells_->setChecked(ticked);
      options_->typedCells = options_->tableLayout = ticked ? 1 : 0;
    });
  });
  connect(valueFiles_, &QCheckBox::clicked, this,
          [this](bool ticked) { command([this, ticked] { options_->valueFiles = ticked ? 1 : 0; }); });
  connect(type_, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
    command([this, index] {
      if (index >= 0) options_->bookType = index;
    });
  });
}

bool OutputPage::eventFilter(QObject* watched, QEvent* event) {
  if (watched == path_ && event->type() == QEvent::FocusIn) command();
  return WizardPage::eventFilter(watched, event);
}

void OutputPage::browse() {
  // The dialog starts in the folder of the name in the field, with that name filled in.
  QString start = path_->currentText();
  if (wizard_->setup().chooseFile) {
    QString chosen = wizard_->setup().chooseFile(true, workbookFilter(), start);
    if (!chosen.isEmpty()) path_->setEditText(chosen);
    return;
  }
  QFileDialog dialog(this, QString(), start, workbookFilter());
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(options_->bookType == 1 ? QStringLiteral("xlsx") : QStringLiteral("xls"));
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  // The name's own extension chooses the type as the field is set.
  path_->setEditText(dialog.selectedFiles().first());
}

void OutputPage::typeFromName() {
  int chosen = bookTypeOfName(path_->currentText().toStdString());
  if (chosen < 0 || chosen == options_->bookType) return;
  options_->bookType = chosen;
  QSignalBlocker quiet(type_);
  type_->setCurrentIndex(chosen);
}

void OutputPage::followField() {
  std::string field = path_->currentText().toStdString();
  if (field.empty()) {
    // Next can never write into a name the field no longer shows.
    options_->outputPath.clear();
    return;
  }
  std::string name = applyBookTypeRule(field, options_->bookType);
  if (name != field) {
    int cursor = path_->lineEdit()->cursorPosition();
    path_->setEditText(QString::fromStdString(name));
    path_->lineEdit()->setCursorPosition(cursor);
  }
  options_->outputPath = name;
}

void OutputPage::afterCommand() {
  followField();
  allowNext(!options_->outputPath.empty());
}

void OutputPage::activated() {
  path_->setFocus();
  afterCommand();
}

void OutputPage::created() {
  overwriteFile_->setChecked(options_->overwriteFile != 0);
  overwriteTable_->setChecked(options_->overwriteTable != 0);
  overwriteTable_->setEnabled(options_->overwriteFile == 0);
  type_->addItem(QStringLiteral("Excel 97-2003 & 5.0/95 (*.xls)"));
  type_->addItem(QStringLiteral("Excel 2007-2010 (*.xlsx)"));
  type_->setCurrentIndex(options_->bookType == 1 ? 1 : 0);
  header_->setChecked(options_->writeHeader != 0);
  headerOnlyNew_->setChecked(options_->headerOnlyForNewSheets != 0);
  bool typed = options_->typedCells != 0, table = options_->tableLayout != 0;
  typedCells_->setTristate(typed != table);
  typedCells_->setCheckState(typed && table ? Qt::Checked : typed || table ? Qt::PartiallyChecked : Qt::Unchecked);
  valueFiles_->setChecked(options_->valueFiles != 0);

  QString field = QString::fromStdString(options_->outputPath);
  if (field.isEmpty()) {
    if (LastPath last = readLastPath(kLastOutput); last.found) field = QString::fromStdString(last.text);
  }
  for (const std::string& recent : loadRecentList(kRecentOutputsRead)) path_->addItem(QString::fromStdString(recent));
  path_->setCurrentIndex(-1);
  path_->setEditText(field);
  // The name placed here counts at once, as if the field had been touched.
  followField();

  writeStatus(options_, kStatusOutputSelection);
  if (options_->batch) wizard_->pressNextLater();
}

bool OutputPage::validatePage() {
  followField();
  if (options_->outputPath.empty()) {
    options_->batch = 0;
    return false;
  }
  writeLastPath(kLastOutput, options_->outputPath);
  updateRecentList(options_->outputPath, kRecentOutputsWritten);
  return true;
}
