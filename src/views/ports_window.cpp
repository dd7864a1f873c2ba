#include "views/ports_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <set>
#include <utility>

namespace views {

namespace {

// Port and device numbers sort as numbers ("COM2" before "COM10"); the rest as text.
constexpr int kSortRole = Qt::UserRole;
constexpr int kKeyRole = Qt::UserRole + 1;  // port number or device node: the row's identity

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

QTableView* MakeTable(QAbstractItemModel* model, const QString& name, QWidget* parent) {
  auto* t = new QTableView(parent);
  t->setModel(model);
  t->setAccessibleName(name);
  t->setSelectionBehavior(QAbstractItemView::SelectRows);
  t->setSelectionMode(QAbstractItemView::ExtendedSelection);
  t->setEditTriggers(QAbstractItemView::NoEditTriggers);
  t->setSortingEnabled(true);
  t->sortByColumn(0, Qt::AscendingOrder);
  t->setWordWrap(false);
  t->verticalHeader()->hide();
  t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
  t->horizontalHeader()->setStretchLastSection(true);
  t->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  return t;
}

QSortFilterProxyModel* MakeProxy(QAbstractItemModel* source, QObject* parent) {
  auto* p = new QSortFilterProxyModel(parent);
  p->setSourceModel(source);
  p->setSortRole(kSortRole);
  p->setSortCaseSensitivity(Qt::CaseInsensitive);
  return p;
}

template <size_t N>
void SetHeader(QStandardItemModel& m, const std::array<std::string_view, N>& columns) {
  QStringList labels;
  for (const auto c : columns) labels << QString::fromUtf8(c.data(), static_cast<int>(c.size()));
  m.setHorizontalHeaderLabels(labels);
}

QList<QStandardItem*> Row(const ports::Cells& cells, const QVariant& key, const QVariant& sortKey) {
  QList<QStandardItem*> items;
  for (size_t i = 0; i < cells.size(); ++i) {
    auto* item = new QStandardItem(Q(cells[i]));
    item->setData(i == 0 ? sortKey : QVariant(Q(cells[i])), kSortRole);
    item->setData(key, kKeyRole);
    item->setEditable(false);
    items << item;
  }
  return items;
}

// The keys of the selected rows of `table`.
QVariantList SelectedKeys(const QTableView* table) {
  QVariantList keys;
  for (const QModelIndex& i : table->selectionModel()->selectedRows()) keys << i.data(kKeyRole);
  return keys;
}

void Select(QTableView* table, const QVariantList& keys) {
  QItemSelection selection;
  const QAbstractItemModel* m = table->model();
  for (int r = 0; r < m->rowCount(); ++r) {
    const QModelIndex first = m->index(r, 0);
    if (keys.contains(first.data(kKeyRole))) {
      selection.select(first, m->index(r, m->columnCount() - 1));
    }
  }
  table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

}  // namespace

PortsWindow::PortsWindow(std::unique_ptr<ports::DeviceSource> source, std::filesystem::path dir,
                         QWidget* parent)
    : QDialog(parent), browser_(std::move(source), std::move(dir)) {
  setWindowTitle(QStringLiteral("Ports"));
  warn = [](QWidget* p, const QString& text) {
    QMessageBox::warning(p, QApplication::applicationName(), text);
  };

  portsModel_ = new QStandardItemModel(this);
  devicesModel_ = new QStandardItemModel(this);
  SetHeader(*portsModel_, ports::kPortColumns);
  SetHeader(*devicesModel_, ports::kDeviceColumns);
  portsProxy_ = MakeProxy(portsModel_, this);
  devicesProxy_ = MakeProxy(devicesModel_, this);
  portsTable_ = MakeTable(portsProxy_, QStringLiteral("Ports"), this);
  devicesTable_ = MakeTable(devicesProxy_, QStringLiteral("Serial devices"), this);
  // One device is mapped at a time; several ports can be unmapped at once.
  devicesTable_->setSelectionMode(QAbstractItemView::SingleSelection);

  auto* portsLabel = new QLabel(QStringLiteral("Ports (a mapping takes effect at the next OPEN):"));
  portsLabel->setBuddy(portsTable_);
  auto* devicesLabel = new QLabel(QStringLiteral("Serial devices on this machine:"));
  devicesLabel->setBuddy(devicesTable_);
  noDevices_ = new QLabel(QStringLiteral("(no serial devices found)"));

  map_ = new QPushButton(QStringLiteral("Map"));
  map_->setAccessibleName(QStringLiteral("Map the port to the device"));
  map_->setToolTip(map_->accessibleName());
  unmap_ = new QPushButton(QStringLiteral("Unmap"));
  unmap_->setAccessibleName(QStringLiteral("Unmap the port"));
  unmap_->setToolTip(unmap_->accessibleName());
  auto* close = new QPushButton(QStringLiteral("Close"));
  // Enter in a table clicks nothing: no button is the default.
  for (QPushButton* b : {map_, unmap_, close}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  result_ = new QLabel;
  result_->setAccessibleName(QStringLiteral("Mapping result"));
  connect(map_, &QPushButton::clicked, this, [this] { MapSelected(); });
  connect(unmap_, &QPushButton::clicked, this, [this] { UnmapSelected(); });
  connect(close, &QPushButton::clicked, this, &QDialog::reject);
  for (QTableView* t : {portsTable_, devicesTable_}) {
    connect(t->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateButtons(); });
  }

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(map_);
  buttons->addWidget(unmap_);
  buttons->addWidget(result_, 1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(portsLabel);
  layout->addWidget(portsTable_, 3);
  layout->addWidget(devicesLabel);
  layout->addWidget(devicesTable_, 2);
  layout->addWidget(noDevices_);
  layout->addLayout(buttons);
  resize(760, 520);

  (void)browser_.Refresh();
  Show();
  if (portsProxy_->rowCount() > 0) portsTable_->selectRow(0);
  UpdateButtons();
  refresh_.start(kPortsRefreshMs, this);
}

PortsWindow::~PortsWindow() = default;

void PortsWindow::timerEvent(QTimerEvent* e) {
  if (e->timerId() == refresh_.timerId()) Refresh();
}

void PortsWindow::Refresh() {
  if (browser_.Refresh()) Show();
}

// Rebuilds both tables from the snapshot, keeping the selected port and device selected.
void PortsWindow::Show() {
  const QVariantList ports = SelectedKeys(portsTable_);
  const QVariantList devices = SelectedKeys(devicesTable_);
  const ports::Snapshot& s = browser_.Shown();
  portsModel_->setRowCount(0);
  for (const auto& r : s.ports) {
    const QList<QStandardItem*> row = Row(ports::PortCells(r), r.port, r.port);
    // Whether the device comes from a link of the ports folder or is the built-in one.
    row[1]->setToolTip(r.mapped ? QStringLiteral("mapped") : QStringLiteral("default"));
    portsModel_->appendRow(row);
  }
  devicesModel_->setRowCount(0);
  for (size_t i = 0; i < s.devices.size(); ++i) {
    const std::string& node = s.devices[i].device.node;
    // The snapshot's order (USB first, numbers as numbers) is the node column's order.
    devicesModel_->appendRow(
        Row(ports::DeviceCells(s.devices[i]), Q(node), static_cast<qulonglong>(i)));
  }
  noDevices_->setVisible(s.devices.empty());
  devicesTable_->setVisible(!s.devices.empty());
  Select(portsTable_, ports);
  Select(devicesTable_, devices);
  for (QTableView* t : {portsTable_, devicesTable_}) t->resizeColumnsToContents();
  UpdateButtons();
}

std::vector<uint8_t> PortsWindow::SelectedPorts() const {
  std::vector<uint8_t> out;
  for (const QVariant& k : SelectedKeys(portsTable_))
    out.push_back(static_cast<uint8_t>(k.toUInt()));
  return out;
}

std::vector<std::string> PortsWindow::SelectedDevices() const {
  std::vector<std::string> out;
  for (const QVariant& k : SelectedKeys(devicesTable_)) out.push_back(k.toString().toStdString());
  return out;
}

void PortsWindow::UpdateButtons() {
  const std::vector<uint8_t> ports = SelectedPorts();
  map_->setEnabled(browser_.CanMap(ports, SelectedDevices()));
  unmap_->setEnabled(browser_.CanUnmap(ports));
}

void PortsWindow::Report(const ports::Browser::Result& r) {
  if (!r.text.empty()) result_->setText(Q(r.text));
  Show();
  if (!r.error.empty() && warn) warn(this, Q(r.error));
}

void PortsWindow::MapSelected() {
  const std::vector<uint8_t> ports = SelectedPorts();
  const std::vector<std::string> devices = SelectedDevices();
  if (!browser_.CanMap(ports, devices)) return;
  Report(browser_.Map(ports[0], devices[0]));
}

void PortsWindow::UnmapSelected() {
  const std::vector<uint8_t> ports = SelectedPorts();
  if (!browser_.CanUnmap(ports)) return;
  Report(browser_.Unmap(ports));
}

}  // namespace views
