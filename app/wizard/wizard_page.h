// What the five pages share: the record, a first-display fill that runs once per run, an
// activation that runs each time the page becomes current, and the Next button's state.
#pragma once

#include <QWizardPage>

#include "app/wizard/conversion_wizard.h"

class WizardPage : public QWizardPage {
 public:
  explicit WizardPage(ConversionWizard* wizard) : wizard_(wizard), options_(wizard->options()) {}

  // Called by the wizard each time the page becomes current.
  void becameCurrent() {
    if (!created_) {
      created_ = true;
      created();
    }
    activated();
  }

  bool isComplete() const override { return nextAllowed_; }

 protected:
  virtual void created() {}
  virtual void activated() {}

  // Enables or disables Next (or Finish on the last page).
  void allowNext(bool allowed) {
    nextAllowed_ = allowed;
    emit completeChanged();
  }

  ConversionWizard* wizard_;
  ConversionOptions* options_;

 private:
  bool created_ = false;
  bool nextAllowed_ = true;
};
