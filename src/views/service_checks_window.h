#pragma once
// "Service Checks": who and what is tested, where the reference comes from, the checks with
// their parameters and limits, the run's progress, and the report to save or print. The run goes
// through the console (console::ChecksHost), so the console's logs and windows follow it.

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>

#include "checks/engine.h"
#include "checks/link_run.h"
#include "checks/report.h"
#include "console/checks_run.h"
#include "views/save_hooks.h"

class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTextDocument;

namespace views {

class ServiceChecksWindow final : public QWidget, private checks::Observer {
 public:
  ServiceChecksWindow(console::ChecksHost& host, QWidget* parent = nullptr);
  ~ServiceChecksWindow() override;

  // Tests replace the file dialog and the message boxes.
  SaveHooks hooks = DefaultSaveHooks();

  void Start();
  void Abort();
  [[nodiscard]] bool Running() const;
  // Writes the report; the type follows the name's ending (.pdf, .html, .json).
  [[nodiscard]] bool SaveReport(const QString& path);
  // The checks and parameters of the table, or why not (the message names the range).
  [[nodiscard]] std::optional<QString> ReadSetup(std::vector<checks::CheckKind>& kinds,
                                                 checks::Params& params) const;
  // The report's page `page` (from 0) as the PDF shows it, `width` pixels wide.
  [[nodiscard]] QImage ReportPage(int page, int width) const;
  [[nodiscard]] QTableWidget* Table() const { return table_; }
  [[nodiscard]] QDialog* ReferenceDialog() const { return refDialog_; }
  [[nodiscard]] const console::ChecksRun* Run() const { return run_.get(); }

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void hideEvent(QHideEvent* e) override;

 private:
  class TypedReference;
  void OnProgress(const checks::Progress& progress) override;
  void OnCheckDone(const checks::CheckResult& result) override;
  void Tick();
  void Finished();
  void AskReference(size_t point, int targetMmHg);
  void SaveReportAs();
  void Print();
  void SaveSetup() const;
  void LoadSetup();
  void SaveGeometry() const;
  void SetRunning(bool running);
  [[nodiscard]] checks::ReportInfo Info() const;
  void BuildDocument(QTextDocument& doc) const;

  console::ChecksHost& host_;
  QLineEdit* operator_;
  QLineEdit* module_;
  QLineEdit* reference_;
  QLineEdit* due_;
  QComboBox* source_;
  QLineEdit* gaugePort_;
  QComboBox* gaugeUnit_;
  QLineEdit* ceiling_;
  QTableWidget* table_;
  QPushButton* start_;
  QPushButton* abort_;
  QProgressBar* progress_;
  QLabel* phase_;
  QLabel* cuff_;
  QLabel* verdict_;
  QPushButton* save_;
  QPushButton* print_;
  QDialog* refDialog_ = nullptr;
  QTimer tick_;
  std::vector<checks::CheckKind> kinds_;
  std::unique_ptr<TypedReference> typed_;
  // Before the run, which reads it until it ends.
  std::unique_ptr<checks::GaugePort> gauge_;
  std::unique_ptr<console::ChecksRun> run_;
  std::string device_;
  std::string port_;
};

}  // namespace views
