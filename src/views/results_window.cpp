#include "views/results_window.h"

#include <QBrush>
#include <QColor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>
#include <vector>

#include "framework/qt/window_role.h"
#include "views/close_key.h"

namespace views {

int ResultsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shown_;
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : results::kColumnCount;
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= shown_) return {};
  const results::BpRow& r = rows_.Rows()[static_cast<size_t>(index.row())];
  const auto column = static_cast<results::Column>(index.column());
  const bool error = results::IsError(r.err);
  if (role == Qt::DisplayRole) return QString::fromStdString(results::CellText(r, column));
  if (role == Qt::AccessibleTextRole) {
    QString text = QString::fromStdString(results::CellText(r, column));
    // The red is not seen by everyone: the status says it in words too.
    if (error && column == results::Column::kStatus) text += QStringLiteral(", error");
    return text;
  }
  if (role == Qt::ForegroundRole && error) return QBrush(QColor(0xc0, 0x20, 0x20));
  if (role == Qt::UserRole) {
    switch (column) {
      case results::Column::kTime:
        return QVariant::fromValue<qlonglong>(r.ms);
      case results::Column::kTc:
      case results::Column::kMode:
        return QString::fromStdString(results::CellText(r, column));
      default:
        return QString::fromStdString(results::CellText(r, column)).toInt();
    }
  }
  if (role == Qt::TextAlignmentRole && column != results::Column::kTime &&
      column != results::Column::kTc && column != results::Column::kMode) {
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  }
  return {};
}

QVariant ResultsModel::headerData(int section, Qt::Orientation o, int role) const {
  if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
      section >= results::kColumnCount) {
    return QAbstractTableModel::headerData(section, o, role);
  }
  return QString::fromLatin1(results::ColumnTitle(static_cast<results::Column>(section)));
}

bool ResultsModel::Sync() {
  if (rows_.Version() == version_) return false;
  version_ = rows_.Version();
  const int now = static_cast<int>(rows_.Rows().size());
  if (now > shown_) {
    beginInsertRows({}, shown_, now - 1);
    shown_ = now;
    endInsertRows();
  } else {
    beginResetModel();
    shown_ = now;
    endResetModel();
  }
  return true;
}

ResultsWindow::ResultsWindow(results::BpResults& rows, QWidget* parent)
    : QWidget(parent, Qt::Window), rows_(rows) {
  fw::qt::MarkAsWindow(*this);
  setWindowTitle(QStringLiteral("Results"));
  setAccessibleName(QStringLiteral("Results"));
  model_ = new ResultsModel(rows_, this);
  proxy_ = new QSortFilterProxyModel(this);
  proxy_->setSourceModel(model_);
  proxy_->setSortRole(Qt::UserRole);

  table_ = new QTableView;
  table_->setAccessibleName(QStringLiteral("Results table"));
  table_->setModel(proxy_);
  table_->setSortingEnabled(true);
  // Arrival order until a header is clicked, so the newest is at the bottom.
  table_->sortByColumn(-1, Qt::AscendingOrder);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(0, 170);
  for (int c = 1; c < results::kColumnCount; ++c) table_->setColumnWidth(c, 70);
  table_->setColumnWidth(static_cast<int>(results::Column::kTc), 180);

  summary_ = new QLabel;
  summary_->setTextFormat(Qt::PlainText);
  summary_->setWordWrap(true);
  summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* save = new QPushButton(QStringLiteral("&Save CSV..."));
  auto* clear = new QPushButton(QStringLiteral("&Clear"));
  for (QPushButton* b : {save, clear}) {
    b->setAccessibleName(b->text().remove(QLatin1Char('&')));
    b->setAutoDefault(false);
  }
  connect(save, &QPushButton::clicked, this, [this] { SaveCsv(); });
  connect(clear, &QPushButton::clicked, this, [this] { ClearRows(); });
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { UpdateSummary(); });

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(save);
  buttons->addWidget(clear);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addWidget(summary_);
  layout->addLayout(buttons);
  resize(900, 400);
  Refresh();
  // Results come a few a minute: each is shown at once, and a hidden table catches up on showing.
  rows_.SetListener([this] {
    if (isVisible()) Refresh();
  });
}

ResultsWindow::~ResultsWindow() {
  rows_.SetListener(nullptr);
}

void ResultsWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  Refresh();
}

void ResultsWindow::Refresh() {
  const int before = model_->rowCount();
  if (!model_->Sync()) {
    if (summary_->text().isEmpty()) UpdateSummary();
    return;
  }
  if (model_->rowCount() > before && proxy_->sortColumn() < 0) table_->scrollToBottom();
  UpdateSummary();
}

void ResultsWindow::UpdateSummary() {
  std::vector<size_t> picked;
  for (const QModelIndex& i : table_->selectionModel()->selectedRows()) {
    picked.push_back(static_cast<size_t>(proxy_->mapToSource(i).row()));
  }
  const QString text = QString::fromUtf8(results::SummaryText(rows_.Summarize(picked)));
  summary_->setText(text);
}

void ResultsWindow::ClearRows() {
  rows_.Clear();
  Refresh();
}

void ResultsWindow::SaveCsv() {
  if (!hooks.askPath) return;
  const QString path =
      hooks.askPath(this, QStringLiteral("Save CSV"), QStringLiteral("results.csv"),
                    QStringLiteral("CSV files (*.csv)"));
  if (path.isEmpty()) return;
  (void)WriteFile(hooks, this, QStringLiteral("Save CSV"), path, rows_.Csv());
}

void ResultsWindow::keyPressEvent(QKeyEvent* e) {
  if (IsCloseKey(*e)) {
    close();
    return;
  }
  QWidget::keyPressEvent(e);
}

}  // namespace views
