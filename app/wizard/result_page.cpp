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
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "app/wizard/pages.h"
#include "app/wizard/title_font.h"
#include "job/progress.h"
#include "options/command_line.h"
#include "options/conversion_options.h"
#include "options/settings.h"

QPixmap watermarkBand();

namespace {

const char* const kRule = "---------------------------";
// The box grows with its text up to this share of the screen's width, then scrolls.
constexpr double kWidestShareOfScreen = 0.8;

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
  auto* finished = new QLabel(QStringLiteral("Fallowmere Wizard has finished its work."), this);
  counts_ = new QLabel(QStringLiteral("0 records have been exported."), this);
  counts_->setObjectName(QStringLiteral("control1019"));
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
  bottom->addWidget(makeHelpButton(wizard, this));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title_);
  layout->addSpacing(8);
  layout->addWidget(finished);
  layout->addWidget(counts_);
  layout->addSpacing(4);
  layout->addWidget(openNew_);
  layout->addWidget(saveSettings_);
  layout->addSpacing(4);
  layout->addLayout(commandRow);
  layout->addStretch(1);
  layout->addLayout(bottom);
}

void ResultPage::created() {
  if (options_->titleFont) title_->setFont(options_->titleFont->font);
  openNew_->setChecked(options_->openOutput != 0);
  if (options_->batch && !options_->wait) wizard_->pressFinishLater();
}

void ResultPage::activated() {
  // Callers that read the status file learn whether the workbook is complete.
  writeStatus(options_, wizard_->conversionSucceeded() ? kStatusSuccessful : kStatusFailed);
  if (options_->tablesExported != 0)
    counts_->setText(QStringLiteral("%1 tables (%2 records) have been imported.")
                         .arg(options_->tablesExported)
                         .arg(options_->recordsExported));
  // There is no workbook to open when the job did not save it whole.
  if (!wizard_->conversionSucceeded()) {
    openNew_->setChecked(false);
    openNew_->setEnabled(false);
  }
  allowNext(true);
}

void ResultPage::showCommandLine() {
  CommandLineBox box(QStringLiteral("Press Ctrl-C to copy command line parameters to the clipboard"),
                     QString::fromStdString(buildCommandLine(options_)), this);
  box.exec();
}

bool ResultPage::validatePage() {
  if (saveSettings_->isChecked()) {
    const std::string& file = wizard_->setup().settingsFile;
    if (file.empty())
      writeProgramSettings(options_);
    else
      writeProgramSettings(options_, file);
  }
  // The program chosen by the desktop opens the workbook; when none does, nothing is said. The
  // job wrote a relative path from the current folder, and a file URL must be absolute.
  if (openNew_->isChecked() && openNew_->isEnabled() && wizard_->conversionSucceeded()) {
    QString workbook = QFileInfo(QString::fromStdString(options_->outputPath)).absoluteFilePath();
    wizard_->openUrl(QUrl::fromLocalFile(workbook));
  }
  return true;
}
