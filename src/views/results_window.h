#pragma once
// "Results": a row for every BP result the event log decoded, sortable, with the summary of
// the selected rows (all when none is selected) beneath. Rows with an error show red and stay
// out of the summary.

#include <QAbstractTableModel>
#include <QWidget>

#include "results/bp_results.h"
#include "views/save_hooks.h"

class QLabel;
class QSortFilterProxyModel;
class QTableView;

namespace views {

// The store as a table; Qt::UserRole gives the value to sort by.
class ResultsModel final : public QAbstractTableModel {
 public:
  explicit ResultsModel(const results::BpResults& rows, QObject* parent = nullptr)
      : QAbstractTableModel(parent), rows_(rows) {}
  [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
  [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
  [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
  [[nodiscard]] QVariant headerData(int section, Qt::Orientation o, int role) const override;
  // Catches up with the store: appended rows are inserted, anything else resets.
  // True when something changed.
  bool Sync();

 private:
  const results::BpResults& rows_;
  int shown_ = 0;
  uint64_t version_ = 0;
};

class ResultsWindow final : public QWidget {
 public:
  // As the chart window: of its own, or a window of `parent`.
  explicit ResultsWindow(results::BpResults& rows, QWidget* parent = nullptr);
  ~ResultsWindow() override;
  ResultsWindow(const ResultsWindow&) = delete;
  ResultsWindow& operator=(const ResultsWindow&) = delete;

  void Refresh();
  void SaveCsv();
  void ClearRows();
  [[nodiscard]] QTableView* Table() const { return table_; }
  [[nodiscard]] QLabel* SummaryLabel() const { return summary_; }

  SaveHooks hooks = DefaultSaveHooks();

 protected:
  void showEvent(QShowEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

 private:
  void UpdateSummary();

  results::BpResults& rows_;
  ResultsModel* model_ = nullptr;  // owned by this widget
  QSortFilterProxyModel* proxy_ = nullptr;
  QTableView* table_ = nullptr;
  QLabel* summary_ = nullptr;
};

}  // namespace views
