#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "app/wizard/elided_label.h"
#include "app/wizard/pages.h"
#include "app/wizard/title_font.h"
#include "job/progress.h"
#include "options/command_line.h"
#include "options/conversion_options.h"
#include "options/settings.h"

QPixmap watermarkBand();

namespace {

const char* const kRule = "---------------------------";
const char* const kCaptionStart = "Fallowmere Wizard | ";
// The box grows with its text up to this share of the screen's width, then scrolls.
constexpr double kWidestShareOfScreen = 0.8;

// A message of the job as a headline and the line under it. The engine's error report says what
// went wrong in its description; a failure's lines after the first name the file and the reason.
std::pair<QString, QString> failureLines(const std::string& text) {
  const std::string description = "Description = ";
  if (size_t at = text.find(description); at != std::string::npos) {
    size_t begin = at + description.size();
    return {QString::fromStdString(text.substr(begin, text.find('\n', begin) - begin)), QString()};
  }
  size_t lineEnd = text.find('\n');
  QString rest = lineEnd == std::string::npos ? QString() : QString::fromStdString(text.substr(lineEnd + 1)).trimmed();
  return {QString::fromStdString(text.substr(0, lineEnd)), rest.replace(QLatin1Char('\n'), QStringLiteral("; "))};
}

}  // namespace

CommandLineBox::CommandLineBox(const QString& caption, const QString& text, QWidget* parent)
    : QDialog(parent), text_(text) {
  setObjectName(QStringLiteral("commandLineBox"));
  setWindowTitle(caption);

  auto* icon = new QLabel(this);
  icon->setObjectName(QStringLiteral("icon"));
  int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(iconSize, iconSize));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  view_ = new QPlainTextEdit(this);
  view_->setObjectName(QStringLiteral("text"));
  view_->setPlainText(text);
  view_->setReadOnly(true);
  view_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  view_->setLineWrapMode(QPlainTextEdit::NoWrap);
  view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  view_->installEventFilter(this);

  // As wide as the longest line, as far as the screen allows; as high as the lines, with room
  // for the scroll bar when the width does not suffice.
  QFontMetrics metrics(view_->font());
  int widest = 0;
  for (const QString& line : text.split(QLatin1Char('\n'))) widest = std::max(widest, metrics.horizontalAdvance(line));
  int margins = 2 * (view_->frameWidth() + static_cast<int>(view_->document()->documentMargin())) + metrics.averageCharWidth();
  QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  int limit = screen ? static_cast<int>(screen->availableGeometry().width() * kWidestShareOfScreen) : 1000;
  int width = std::min(widest + margins, limit);
  int lines = static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
  int height = lines * metrics.lineSpacing() + 2 * (view_->frameWidth() + static_cast<int>(view_->document()->documentMargin()));
  if (widest + margins > limit) height += view_->horizontalScrollBar()->sizeHint().height();
  view_->setFixedSize(std::max(width, 200), height);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->setCenterButtons(style()->styleHint(QStyle::SH_MessageBox_CenterButtons, nullptr, this));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QGridLayout(this);
  layout->addWidget(icon, 0, 0);
  layout->addWidget(view_, 0, 1);
  layout->addWidget(buttons, 1, 0, 1, 2);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->setHorizontalSpacing(style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing) * 2);

  // Enter and Space close the box, as OK does in a message box.
  ok_ = buttons->button(QDialogButtonBox::Ok);
  ok_->setFocus();
}

QString CommandLineBox::copiedText() const {
  const QString rule = QString::fromLatin1(kRule);
  const QString ok = ok_->text().remove(QLatin1Char('&'));
  return rule + '\n' + windowTitle() + '\n' + rule + '\n' + text_ + '\n' + rule + '\n' + ok + '\n' + rule + '\n';
}

void CommandLineBox::copy() {
  QString copied = view_->textCursor().hasSelection() ? view_->textCursor().selectedText() : copiedText();
  // A selection of several lines comes with paragraph separators.
  copied.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText(copied, QClipboard::Clipboard);
  if (clipboard->supportsSelection()) clipboard->setText(copied, QClipboard::Selection);
}

void CommandLineBox::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    copy();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool CommandLineBox::eventFilter(QObject* watched, QEvent* event) {
  // The text area would copy only its selection, and nothing without one.
  if (watched == view_ && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Copy)) {
      if (event->type() == QEvent::KeyPress) copy();
      event->accept();
      return event->type() == QEvent::KeyPress;
    }
  }
  return QDialog::eventFilter(watched, event);
}

ResultPage::ResultPage(ConversionWizard* wizard) : WizardPage(wizard) {
  setPixmap(QWizard::WatermarkPixmap, watermarkBand());
  setFinalPage(true);

  title_ = new QLabel(QStringLiteral("Conversion complete"), this);
  title_->setObjectName(QStringLiteral("control1000"));
  title_->setWordWrap(true);
  summary_ = new QLabel(QStringLiteral("Fallowmere Wizard has finished its work."), this);
  summary_->setObjectName(QStringLiteral("summary"));
  summary_->setWordWrap(true);
  counts_ = new QLabel(QStringLiteral("0 records have been exported."), this);
  counts_->setObjectName(QStringLiteral("control1019"));
  counts_->setWordWrap(true);
  // Which tables failed or where the conversion stopped; and the file and reason of a failure.
  detail_ = new QLabel(this);
  detail_->setObjectName(QStringLiteral("detail"));
  detail_->setWordWrap(true);
  detail_->hide();
  reason_ = new ElidedLabel(QString(), this);
  reason_->setObjectName(QStringLiteral("reason"));
  reason_->hide();
  openNew_ = new QCheckBox(QStringLiteral("Open new file"), this);
  openNew_->setObjectName(QStringLiteral("control1020"));
  saveSettings_ = new QCheckBox(QStringLiteral("Save new settings"), this);
  saveSettings_->setObjectName(QStringLiteral("control1021"));
  auto* commandLine = new QPushButton(QStringLiteral("Show command line parameters"), this);
  commandLine->setObjectName(QStringLiteral("control1034"));
  connect(commandLine, &QPushButton::clicked, this, [this] { showCommandLine(); });

  auto* commandRow = new QHBoxLayout;
  commandRow->addWidget(commandLine);
  commandRow->addStretch(1);
  auto* bottom = new QHBoxLayout;
  bottom->addStretch(1);
  bottom->addWidget(makeHelpButton(wizard, this, "result"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title_);
  layout->addSpacing(8);
  layout->addWidget(summary_);
  layout->addWidget(counts_);
  layout->addWidget(detail_);
  layout->addWidget(reason_);
  layout->addSpacing(4);
  layout->addWidget(openNew_);
  layout->addWidget(saveSettings_);
  layout->addSpacing(4);
  layout->addLayout(commandRow);
  layout->addStretch(1);
  layout->addLayout(bottom);
}

ResultPage::RunEnd ResultPage::runEnd() {
  if (wizard_->outcome() == JobOutcome::NotSaved) return RunEnd::Failed;
  if (wizard_->stopRequested()) {
    ProgressSink::TableAtWork atWork = wizard_->progressSink()->tableAtWork();
    bool cut = atWork.total >= 0 && atWork.done < atWork.total;
    // A stop that came after the last table changed nothing.
    if (cut || options_->tablesExported < wizard_->tableChoice().chosen) return RunEnd::Stopped;
  }
  return wizard_->outcome() == JobOutcome::TableFailed ? RunEnd::Incomplete : RunEnd::Complete;
}

void ResultPage::created() {
  if (options_->titleFont) title_->setFont(options_->titleFont->font);
  openNew_->setChecked(options_->openOutput != 0);
  // A run that did not convert everything waits for the user, who should read why.
  if (options_->batch && !options_->wait && runEnd() == RunEnd::Complete) wizard_->pressFinishLater();
}

void ResultPage::activated() {
  RunEnd end = runEnd();
  // Callers that read the status file learn whether the workbook is complete.
  writeStatus(options_, end == RunEnd::Complete ? kStatusSuccessful : kStatusFailed);
  if (end == RunEnd::Failed)
    tellFailure();
  else
    tellTables(end);
  wizard_->setWindowTitle(QString::fromUtf8(kCaptionStart) + title_->text());
  // There is no workbook to open when the job did not save it.
  if (end == RunEnd::Failed) {
    openNew_->setChecked(false);
    openNew_->setEnabled(false);
  }
  allowNext(true);
}

void ResultPage::tellFailure() {
  title_->setText(QStringLiteral("Conversion failed"));
  summary_->setText(QStringLiteral("The workbook was not saved."));
  std::optional<ProgressSink::JobMessage> message = wizard_->progressSink()->lastMessage();
  auto [headline, reason] = message ? failureLines(message->text) : std::pair<QString, QString>();
  counts_->setText(headline.isEmpty() ? QStringLiteral("The conversion met an error.") : headline);
  reason_->setText(reason);
  reason_->setVisible(!reason.isEmpty());
}

void ResultPage::tellTables(RunEnd end) {
  if (end == RunEnd::Complete) {
    // The texts of a run that converted everything.
    if (options_->tablesExported != 0)
      counts_->setText(QStringLiteral("%1 tables (%2 records) have been imported.")
                           .arg(options_->tablesExported)
                           .arg(options_->recordsExported));
    return;
  }
  QStringList details;
  int whole = options_->tablesExported - static_cast<int>(options_->failedTables.size());
  if (end == RunEnd::Stopped) {
    title_->setText(QStringLiteral("Conversion stopped"));
    summary_->setText(QStringLiteral("The conversion was stopped. The tables converted so far are kept."));
    ProgressSink::TableAtWork atWork = wizard_->progressSink()->tableAtWork();
    if (atWork.total >= 0 && atWork.done < atWork.total) {
      whole -= 1;
      details << QStringLiteral("%1 stops at record %2 of %3.")
                     .arg(QString::fromStdString(tableOfProgressLabel(atWork.label, options_->outputPath)))
                     .arg(atWork.done)
                     .arg(atWork.total);
    }
  } else {
    title_->setText(QStringLiteral("Conversion incomplete"));
    summary_->setText(QStringLiteral("Some tables could not be converted."));
  }
  counts_->setText(QStringLiteral("%1 of %2 tables (%3 records) have been imported.")
                       .arg(std::max(whole, 0))
                       .arg(wizard_->tableChoice().chosen)
                       .arg(options_->recordsExported));
  if (!options_->failedTables.empty()) {
    QStringList names;
    for (const std::string& name : options_->failedTables) names << QString::fromStdString(name);
    details << QStringLiteral("Not converted: %1.").arg(names.join(QStringLiteral(", ")));
  }
  detail_->setText(details.join(QLatin1Char('\n')));
  detail_->setVisible(!details.isEmpty());
}

void ResultPage::showCommandLine() {
  // The reader has used and dropped the filter of the command line: the choice made on the source
  // page is what repeats this run.
  OwnedText filter = options_->tableFilter;
  options_->tableFilter = wizard_->tableChoice().filter;
  QString text = QString::fromStdString(buildCommandLine(options_));
  options_->tableFilter = filter;
  CommandLineBox box(QStringLiteral("Press Ctrl-C to copy command line parameters to the clipboard"), text, this);
  box.exec();
}

void ResultPage::saveSettings() {
  const std::string& given = wizard_->setup().settingsFile;
  std::string file = given.empty() ? userSettingsPath() : given;
  std::string why;
  if (writeProgramSettings(options_, file, &why)) return;
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Error"), QStringLiteral("Cannot save the settings."),
                  QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("settingsFailure"));
  box.setInformativeText(QString::fromStdString(file + ": " + why));
  box.exec();
}

bool ResultPage::validatePage() {
  if (saveSettings_->isChecked()) saveSettings();
  // The program chosen by the desktop opens the workbook; when none can, a box says why. The job
  // wrote a relative path from the current folder, and a file URL must be absolute.
  if (openNew_->isChecked() && openNew_->isEnabled() && wizard_->outcome() != JobOutcome::NotSaved) {
    QString workbook = QFileInfo(QString::fromStdString(options_->outputPath)).absoluteFilePath();
    QString why = wizard_->openFile(workbook);
    if (!why.isEmpty()) {
      QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"), QStringLiteral("Cannot open the new file."),
                      QMessageBox::Ok, this);
      box.setObjectName(QStringLiteral("openFailure"));
      box.setInformativeText(workbook + QStringLiteral(": ") + why);
      box.exec();
    }
  }
  return true;
}
