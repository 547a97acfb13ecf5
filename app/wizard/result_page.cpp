#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/wizard/pages.h"
#include "app/wizard/title_font.h"
#include "job/progress.h"
#include "options/command_line.h"
#include "options/conversion_options.h"
#include "options/settings.h"

QPixmap watermarkBand();

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
  allowNext(true);
}

void ResultPage::showCommandLine() {
  QMessageBox box(QMessageBox::Information, QStringLiteral("Press Ctrl-C to copy command line parameters to the clipboard"),
                  QString::fromStdString(buildCommandLine(options_)), QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("commandLineBox"));
  box.setTextFormat(Qt::PlainText);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse);
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
  // The program chosen by the desktop opens the workbook; when none does, nothing is said.
  if (openNew_->isChecked()) wizard_->openUrl(QUrl::fromLocalFile(QString::fromStdString(options_->outputPath)));
  return true;
}
