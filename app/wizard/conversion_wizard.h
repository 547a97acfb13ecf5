// The five-page wizard over the one options record of the run.
#pragma once

#include <QUrl>
#include <QWizard>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "app/program.h"

struct ConversionOptions;
class QPushButton;

// What the wizard takes from its surroundings; tests replace the settings file and the opener.
struct WizardSetup {
  ProgramFlavour flavour = ProgramFlavour::Access2007;
  std::string programFolder;                  // the program's folder, ending in '/'; help is found from it
  std::string settingsFile;                   // "Save new settings" writes here; empty: beside the program
  std::function<bool(const QUrl&)> openUrl;   // empty: QDesktopServices::openUrl
  // Stands in for the file dialogs: given the filter, the chosen path or empty when cancelled.
  std::function<QString(bool save, const QString& filter)> chooseFile;
};

enum WizardPageId { kWelcomePage = 0, kSourcePage, kOutputPage, kProgressPage, kResultPage };

class ConversionWizard : public QWizard {
 public:
  ConversionWizard(ConversionOptions* options, WizardSetup setup, QWidget* parent = nullptr);
  ~ConversionWizard() override;

  ConversionOptions* options() const { return options_; }
  const WizardSetup& setup() const { return setup_; }

  // Presses Next or Finish once the events now queued are handled, as a posted button press.
  void pressNextLater();
  void pressFinishLater();

  // Opens wizards.chm from the program's folder, else the HTML help page (findHelpFile); nothing
  // is reported when there is none or nothing opens it.
  void openHelp();
  bool openUrl(const QUrl& url) const;

  // Starts the conversion on the worker thread; at its end the worker presses Next.
  void startWorker();
  // Blocks until the worker (if any) has stopped.
  void waitForWorker();
  bool workerRunning() const { return workerRunning_.load(); }
  // Whether the last conversion saved its workbook with every selected table whole.
  bool conversionSucceeded() const { return conversionSucceeded_.load(); }

  void reject() override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void pageBecameCurrent(int id);
  void workerFinished();

  ConversionOptions* options_;
  WizardSetup setup_;
  int activePage_ = -1;
  std::thread worker_;
  std::atomic<bool> workerRunning_{false};
  std::atomic<bool> conversionSucceeded_{false};
};

// The help to open for a program in `programFolder` (ending in '/'): wizards.chm in that folder
// when there is one, else the HTML help page beside the program (a build tree), else the one
// installed with the documentation. Empty when none of them exists.
std::string findHelpFile(const std::string& programFolder);

// A "?" button that opens the help file.
QPushButton* makeHelpButton(ConversionWizard* wizard, QWidget* parent);
