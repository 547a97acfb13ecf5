// The five pages of the wizard.
#pragma once

#include <QTimer>
#include <memory>

#include "app/wizard/progress_sink.h"
#include "app/wizard/wizard_page.h"
#include "source/database_reader.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

class WelcomePage : public WizardPage {
 public:
  explicit WelcomePage(ConversionWizard* wizard);

 protected:
  void created() override;
  void activated() override { allowNext(true); }

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

  bool validatePage() override;

 protected:
  void created() override;
  void activated() override { allowNext(true); }
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void openFromField();
  void browse();
  void commandDone();

  QComboBox* path_;
  QListWidget* tables_;
  QLineEdit* password_;
};

class OutputPage : public WizardPage {
 public:
  explicit OutputPage(ConversionWizard* wizard);
  bool validatePage() override;

 protected:
  void created() override;
  void activated() override { allowNext(true); }
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void browse();
  // Follows the name field after any command: the type rule, the record, the Next button.
  void commandDone();
  void followField();

  QComboBox* path_;
  QCheckBox* overwriteFile_;
  QCheckBox* overwriteTable_;
  QComboBox* type_;
  QCheckBox* header_;
  QCheckBox* headerOnlyNew_;
  bool filling_ = false;
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
  void showCommandLine();

  QLabel* title_;
  QLabel* counts_;
  QCheckBox* openNew_;
  QCheckBox* saveSettings_;
};
