// The five-page wizard over the one options record of the run.
#pragma once

#include <QUrl>
#include <QWizard>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "app/program.h"
#include "job/conversion_job.h"

struct ConversionOptions;
class ProgressSink;
class QPushButton;

// What the wizard takes from its surroundings; tests replace the settings file and the opener.
struct WizardSetup {
  ProgramFlavour flavour = ProgramFlavour::Access2007;
  std::string programFolder;                  // the program's folder, ending in '/'; help is found from it
  std::string settingsFile;                   // "Save new settings" writes here; empty: the user's own file
  std::function<bool(const QUrl&)> openUrl;   // empty: QDesktopServices::openUrl
  // Stands in for the file dialogs: given the filter and the path they start from, the chosen
  // path or empty when cancelled.
  std::function<QString(bool save, const QString& filter, const QString& start)> chooseFile;
};

// The tables chosen on the source page, for the result page.
struct TableChoice {
  int chosen = 0;
  // The /TABLES= filter that repeats the choice, upper case and between semicolons as the parser
  // stores it; none when every table of the database was chosen.
  std::optional<std::string> filter;
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

  // Opens wizards.chm from the program's folder, else the HTML help page (findHelpFile) at the
  // page's own section; nothing is reported when there is none or nothing opens it.
  void openHelp(const QString& section = QString());
  bool openUrl(const QUrl& url) const;
  // Hands a local file to the desktop's program for it; why it cannot, or empty when it was handed.
  QString openFile(const QString& path) const;

  // Starts the conversion on the worker thread; at its end the worker presses Next.
  void startWorker();
  // Blocks until the worker (if any) has stopped.
  void waitForWorker();
  bool workerRunning() const { return workerRunning_.load(); }
  // Whether the last conversion saved its workbook with every selected table whole.
  bool conversionSucceeded() const { return outcome() == JobOutcome::Saved; }
  JobOutcome outcome() const { return outcome_.load(); }
  // Whether the user stopped the conversion.
  bool stopRequested() const { return stopRequested_; }

  // The progress page's report of the conversion: its last message and the table under way.
  ProgressSink* progressSink();

  const TableChoice& tableChoice() const { return tableChoice_; }
  void setTableChoice(TableChoice choice) { tableChoice_ = std::move(choice); }

  // Cancel, Esc and closing the window: while a conversion runs, the user is asked first, and a
  // stopped conversion still ends on the result page.
  void reject() override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void pageBecameCurrent(int id);
  void workerFinished();
  // Asks whether to stop the running conversion; on yes the cancel is raised.
  bool confirmStop();

  ConversionOptions* options_;
  WizardSetup setup_;
  int activePage_ = -1;
  std::thread worker_;
  std::atomic<bool> workerRunning_{false};
  std::atomic<JobOutcome> outcome_{JobOutcome::NotSaved};
  bool stopRequested_ = false;
  TableChoice tableChoice_;
};

// The help to open for a program in `programFolder` (ending in '/'): wizards.chm in that folder
// when there is one, else the HTML help page beside the program (a build tree), else the one
// installed with the documentation. Empty when none of them exists.
std::string findHelpFile(const std::string& programFolder);

// A "?" button that opens the help file at `section`, the page's own part of it.
QPushButton* makeHelpButton(ConversionWizard* wizard, QWidget* parent, const char* section);

// The table named by the progress page's label "TABLE -> WORKBOOK".
std::string tableOfProgressLabel(const std::string& label, const std::string& workbook);

// The question asked before a running conversion stops; the table clause only while a table's
// records are being written.
QString stopQuestion(const std::string& table, int64_t stopRecord);
