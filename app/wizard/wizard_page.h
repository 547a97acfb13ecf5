// What the five pages share: the record, a first-display fill that runs once per run, an
// activation that runs each time the page becomes current, and the Next button's state.
//
// Qt shows a page, moves the focus into it and lets its controls send signals before the wizard
// reports the page as current. A page therefore reacts to its controls only while it is active
// (filled and current); on arrival it applies its rules once to what it then holds.
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
    active_ = true;
    activated();
  }
  // Called by the wizard when another page becomes current.
  void leftPage() { active_ = false; }

  bool isComplete() const override { return nextAllowed_; }

 protected:
  virtual void created() {}
  virtual void activated() {}
  // The page's rule after every command: which of Back and Next are enabled.
  virtual void afterCommand() {}

  bool active() const { return active_; }

  // Runs a command of one of the page's controls and then the rule after every command; does
  // nothing while the page is not active.
  template <typename Action>
  void command(Action&& action) {
    if (!active_) return;
    action();
    afterCommand();
  }
  void command() {
    if (active_) afterCommand();
  }

  // Enables or disables Next (or Finish on the last page).
  void allowNext(bool allowed) {
    nextAllowed_ = allowed;
    emit completeChanged();
  }

  ConversionWizard* wizard_;
  ConversionOptions* options_;

 private:
  bool created_ = false;
  bool active_ = false;
  bool nextAllowed_ = true;
};
