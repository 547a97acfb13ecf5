#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/wizard/pages.h"
#include "app/wizard/title_font.h"
#include "app/wizard/wizard_texts.h"
#include "job/progress.h"
#include "options/conversion_options.h"

namespace {
// Qt shows the watermark in a column of its own width: only the picture's band beside the texts.
constexpr int kWatermarkBand = 170;
}  // namespace

QPixmap watermarkBand() {
  QPixmap full(QStringLiteral(":/wizard/art/watermark.png"));
  return full.copy(0, 0, kWatermarkBand, full.height());
}

WelcomePage::WelcomePage(ConversionWizard* wizard) : WizardPage(wizard) {
  setPixmap(QWizard::WatermarkPixmap, watermarkBand());

  title_ = new QLabel(QStringLiteral("Welcome to Fallowmere Wizard"), this);
  title_->setObjectName(QStringLiteral("control1000"));
  title_->setWordWrap(true);
  description_ = new QLabel(this);
  description_->setObjectName(QStringLiteral("control1001"));
  description_->setWordWrap(true);
  version_ = new QLabel(this);
  version_->setObjectName(QStringLiteral("control1040"));

  auto* web = new QPushButton(QString::fromUtf8(kProductWebPage), this);
  web->setObjectName(QStringLiteral("control1039"));
  connect(web, &QPushButton::clicked, wizard, [wizard] { wizard->openUrl(QUrl(QString::fromUtf8(kProductWebPage))); });

  QPushButton* help = makeHelpButton(wizard, this, "welcome");
  setTabOrder(help, web);
  auto* links = new QHBoxLayout;
  links->addWidget(help);
  links->addWidget(web);
  links->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(title_);
  layout->addSpacing(8);
  layout->addWidget(description_);
  layout->addStretch(1);
  layout->addLayout(links);
  layout->addWidget(version_);
}

void WelcomePage::created() {
  if (options_->titleFont) title_->setFont(options_->titleFont->font);
  FlavourTexts texts = flavourTexts(wizard_->setup().flavour);
  version_->setText(texts.version);
  description_->setText(texts.description);
  writeStatus(options_, kStatusWelcome);
  if (options_->batch) wizard_->pressNextLater();
}

void WelcomePage::activated() {
  allowNext(true);
  // The page has nothing to type into: Enter means Next from the start.
  if (QAbstractButton* next = wizard_->button(QWizard::NextButton)) next->setFocus();
}
