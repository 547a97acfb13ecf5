// The five pages of the wizard.
#pragma once

#include <QDialog>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "app/wizard/progress_sink.h"
#include "app/wizard/wizard_page.h"
#include "source/database_reader.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

class WelcomePage : public WizardPage {
 public:
  explicit WelcomePage(ConversionWizard* wizard);

 protected:
  void created() override;
  void activated() override;

 private:
  QLabel* title_;
  QLabel* description_;
  QLabel* version_;
};

class SourcePage : public WizardPage, public SourceWindow {
 public:
  explicit SourcePage(ConversionWizard* wizard);

  // What the reader needs of the page.
  std::string passwordText() override;
  void resetTableList() override;
  void addTable(const std::string& name) override;
  void selectAllTables() override;
  void addQuery(const std::string& name) override;
  void openFailed(const std::string& reason) override;

  bool validatePage() override;

 protected:
  void created() override;
  void activated() override;
  void afterCommand() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void openFromField();
  void browse();
  // OpenSourceDatabase, then the line that says why the table list is empty.
  int openSource(const std::string& path);
  void showWhyEmpty();
  // The /TABLES= filter that repeats the choice of tables, or none when every table is chosen.
  std::optional<std::string> choiceFilter() const;

  QComboBox* path_;
  QListWidget* tables_;
  QLabel* whyEmpty_;
  QLineEdit* password_;
  std::string openFailure_;   // the engine's reason when the last open failed
  bool relisted_ = false;     // the reader emptied the list for a new listing
  bool listFiltered_ = false; // the list holds only the tables of /TABLES=
};

class OutputPage : public WizardPage {
 public:
  explicit OutputPage(ConversionWizard* wizard);
  bool validatePage() override;

 protected:
  void created() override;
  void activated() override;
  // Next only for a name in the field.
  void afterCommand() override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void browse();
  // The record's output path follows the field's text, through the type rule.
  void followField();

  QComboBox* path_;
  QCheckBox* overwriteFile_;
  QCheckBox* overwriteTable_;
  QComboBox* type_;
  QCheckBox* header_;
  QCheckBox* headerOnlyNew_;
};

class ProgressPage : public WizardPage {
 public:
  explicit ProgressPage(ConversionWizard* wizard);
  ProgressSink* sink() { return sink_.get(); }

 protected:
  void activated() override;

 private:
  QProgressBar* bar_;
  QLabel* table_;
  QLabel* times_;
  std::unique_ptr<ProgressSink> sink_;
  QTimer refresh_;
};

class ResultPage : public WizardPage {
 public:
  explicit ResultPage(ConversionWizard* wizard);
  bool validatePage() override;

 protected:
  void created() override;
  void activated() override;

 private:
  // How the run ended, from the job's outcome, the user's stop and what the progress page saw.
  enum class RunEnd { Complete, Failed, Incomplete, Stopped };
  RunEnd runEnd();
  void tellFailure();
  void tellTables(RunEnd end);
  void showCommandLine();
  void saveSettings();

  QLabel* title_;
  QLabel* summary_;
  QLabel* counts_;
  QLabel* detail_;
  QLabel* reason_;
  QCheckBox* openNew_;
  QCheckBox* saveSettings_;
};

// The box that shows the command line repeating a conversion, dressed as an information message
// box: its caption, the information icon, the text and a single OK button.
//
// The text sits in a read-only, non-wrapping text area in a fixed-pitch font, so a switch is
// never broken across lines and the mouse can select any part of it. Ctrl-C copies the selection
// when there is one, else the whole box as a message box copies it: caption and text between
// dashed lines, then the button. The copy goes to the clipboard and, where the desktop has one,
// to the primary selection.
class CommandLineBox : public QDialog {
 public:
  CommandLineBox(const QString& caption, const QString& text, QWidget* parent);

  // What Ctrl-C puts on the clipboard when nothing is selected.
  QString copiedText() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void copy();

  QString text_;
  QPlainTextEdit* view_;
  QPushButton* ok_;
};
