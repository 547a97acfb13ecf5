#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "app/wizard/elided_label.h"
#include "app/wizard/pages.h"
#include "options/conversion_options.h"

namespace {
// How often the widgets catch up with the worker.
constexpr int kRefreshMilliseconds = 50;
}  // namespace

ProgressPage::ProgressPage(ConversionWizard* wizard) : WizardPage(wizard) {
  setTitle(QStringLiteral("Conversion in progress"));
  setSubTitle(QStringLiteral("It can take a few minutes..."));

  auto* prompt = new QLabel(QStringLiteral("Please wait while Fallowmere Wizard exports records"), this);
  prompt->setWordWrap(true);
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("control1016"));
  bar_->setTextVisible(false);
  bar_->setRange(0, 100);
  bar_->setValue(0);
  // "TABLE -> WORKBOOK": a long path loses its middle, not its end.
  table_ = new ElidedLabel(QStringLiteral("Be patient..."), this);
  table_->setObjectName(QStringLiteral("control1021"));
  times_ = new QLabel(QStringLiteral("..."), this);
  times_->setObjectName(QStringLiteral("control1022"));
  times_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  times_->setMinimumHeight(times_->fontMetrics().lineSpacing() * 3);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(prompt);
  layout->addWidget(bar_);
  layout->addWidget(table_);
  layout->addWidget(times_);
  layout->addStretch(1);

  sink_ = std::make_unique<ProgressSink>(this, bar_, table_, times_);
  refresh_.setInterval(kRefreshMilliseconds);
  connect(&refresh_, &QTimer::timeout, this, [this] {
    sink_->flush();
    if (!wizard_->workerRunning()) refresh_.stop();
  });
}

void ProgressPage::activated() {
  // Neither Back (the output page commits) nor Next until the worker presses it.
  allowNext(false);
  options_->progressWindow = sink_.get();
  wizard_->startWorker();
  refresh_.start();
}
