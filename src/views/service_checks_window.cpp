#include "views/service_checks_window.h"

#include <QAbstractTextDocumentLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleValidator>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSvgRenderer>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

#include "framework/qt/window_role.h"
#include "results/expect.h"
#include "serial/port_name.h"
#include "settings/key_value.h"
#include "views/close_key.h"
#include "views/window_geometry.h"

namespace views {

namespace {

constexpr char kSetupFile[] = "service_checks.conf";
constexpr int kTickMs = 50;
constexpr checks::CheckKind kAll[] = {checks::CheckKind::kLeak, checks::CheckKind::kStatic,
                                      checks::CheckKind::kOverpressure, checks::CheckKind::kRepeat};
enum Column { kCheck, kParams, kLimit, kVerdict };

QString Num(double v) {
  return QString::number(v, 'g', 6);
}

// "target=250 settle=5": each key once, each value a number within its range.
struct Field {
  const char* key;
  double min;
  double max;
  double* value;
};
std::optional<QString> ParseFields(const QString& check, const QString& text,
                                   const std::vector<Field>& fields,
                                   std::vector<int>* points = nullptr) {
  for (const QString& token : text.split(QRegularExpression("[\\s;]+"), Qt::SkipEmptyParts)) {
    const qsizetype eq = token.indexOf('=');
    const QString key = token.left(eq).trimmed();
    const QString value = eq < 0 ? QString() : token.mid(eq + 1);
    if (points != nullptr && key == QLatin1String("points")) {
      points->clear();
      for (const QString& p : value.split(',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int v = p.toInt(&ok);
        if (!ok || v < 0 || v > checks::kCeilingMaxMmHg)
          return QStringLiteral("%1 points must be 0 to %2 mmHg.")
              .arg(check)
              .arg(checks::kCeilingMaxMmHg);
        points->push_back(v);
      }
      continue;
    }
    const auto f = std::find_if(fields.begin(), fields.end(),
                                [&](const Field& x) { return key == QLatin1String(x.key); });
    if (f == fields.end()) return QStringLiteral("%1: unknown parameter \"%2\".").arg(check, key);
    bool ok = false;
    const double v = value.toDouble(&ok);
    if (!ok || v < f->min || v > f->max)
      return QStringLiteral("%1 %2 must be %3 to %4.").arg(check, key, Num(f->min), Num(f->max));
    *f->value = v;
  }
  return std::nullopt;
}

QString ParamsText(checks::CheckKind kind, const checks::Params& p) {
  switch (kind) {
    case checks::CheckKind::kLeak:
      return QStringLiteral("target=%1 settle=%2 hold=%3")
          .arg(p.leak.targetMmHg)
          .arg(Num(p.leak.settleS), Num(p.leak.holdS));
    case checks::CheckKind::kStatic: {
      QStringList pts;
      for (int v : p.statics.pointsMmHg) pts << QString::number(v);
      return QStringLiteral("points=%1 settle=%2").arg(pts.join(','), Num(p.statics.settleS));
    }
    case checks::CheckKind::kOverpressure:
      return QStringLiteral("below=%1 above=%2")
          .arg(p.overpressure.windowBelowMmHg)
          .arg(p.overpressure.windowAboveMmHg);
    case checks::CheckKind::kRepeat:
      return QStringLiteral("count=%1 rest=%2 timeout=%3")
          .arg(p.repeat.count)
          .arg(Num(p.repeat.restS), Num(p.repeat.timeoutS));
  }
  return {};
}

QString LimitText(checks::CheckKind kind, const checks::Params& p) {
  switch (kind) {
    case checks::CheckKind::kLeak:
      return Num(p.leak.limitMmHgMin);
    case checks::CheckKind::kStatic:
      return Num(p.statics.limitMmHg);
    case checks::CheckKind::kOverpressure:
      return QString::number(p.overpressure.limitMmHg);
    case checks::CheckKind::kRepeat:
      return {};
  }
  return {};
}

QString LimitTip(checks::CheckKind kind) {
  switch (kind) {
    case checks::CheckKind::kLeak:
      return QStringLiteral("Largest leak rate that passes, mmHg/min");
    case checks::CheckKind::kStatic:
      return QStringLiteral("Largest error that passes, mmHg");
    case checks::CheckKind::kOverpressure:
      return QStringLiteral("Pressure the module must release at, mmHg");
    case checks::CheckKind::kRepeat:
      return QStringLiteral("Expected results, e.g. sys=100..140 (empty: information only)");
  }
  return {};
}

QColor VerdictColor(checks::Verdict v) {
  switch (v) {
    case checks::Verdict::kPass:
      return QColor(0, 128, 0);
    case checks::Verdict::kFail:
      return QColor(192, 0, 0);
    default:
      return QColor(96, 96, 96);
  }
}

// A chart of the report drawn at three times its size, for the PDF and the printout.
QImage SvgImage(const QString& svg) {
  QSvgRenderer renderer(svg.toUtf8());
  if (!renderer.isValid()) return {};
  QImage img(renderer.defaultSize() * 3, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  renderer.render(&p);
  return img;
}

}  // namespace

// Asks the operator for each point's reading in a small dialog; pending until answered.
class ServiceChecksWindow::TypedReference final : public checks::ReferenceSource {
 public:
  explicit TypedReference(ServiceChecksWindow& window) : window_(window) {}
  checks::ReferenceAnswer Read(size_t point, int targetMmHg, int64_t /*nowMs*/) override {
    checks::ReferenceAnswer a;
    if (answered_ && answeredPoint_ == point) {
      a.state = checks::ReferenceAnswer::State::kValue;
      a.mmHg = value_;
      return a;
    }
    if (!asked_ || askedPoint_ != point) {
      asked_ = true;
      askedPoint_ = point;
      answered_ = false;
      window_.AskReference(point, targetMmHg);
    }
    return a;
  }
  void Answer(size_t point, double mmHg) {
    answered_ = true;
    answeredPoint_ = point;
    value_ = mmHg;
  }

 private:
  ServiceChecksWindow& window_;
  bool asked_ = false;
  size_t askedPoint_ = 0;
  bool answered_ = false;
  size_t answeredPoint_ = 0;
  double value_ = 0;
};

ServiceChecksWindow::ServiceChecksWindow(console::ChecksHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window), host_(host) {
  fw::qt::MarkAsWindow(*this);
  setWindowTitle(QStringLiteral("Service Checks"));
  setAccessibleName(QStringLiteral("Service Checks"));
  const auto edit = [](const QString& name) {
    auto* e = new QLineEdit;
    e->setAccessibleName(name);
    return e;
  };
  operator_ = edit(QStringLiteral("Operator"));
  module_ = edit(QStringLiteral("Module ID"));
  reference_ = edit(QStringLiteral("Reference instrument"));
  due_ = edit(QStringLiteral("Reference due date"));
  due_->setPlaceholderText(QStringLiteral("YYYY-MM-DD"));
  source_ = new QComboBox;
  source_->addItems({QStringLiteral("Type each reading"), QStringLiteral("Gauge on port")});
  source_->setAccessibleName(QStringLiteral("Reference source"));
  gaugePort_ = edit(QStringLiteral("Gauge port"));
  gaugePort_->setPlaceholderText(QStringLiteral("COM2"));
  gaugeUnit_ = new QComboBox;
  gaugeUnit_->addItems({QStringLiteral("mmHg"), QStringLiteral("kPa"), QStringLiteral("cmH2O")});
  gaugeUnit_->setAccessibleName(QStringLiteral("Gauge unit"));
  ceiling_ = edit(QStringLiteral("Ceiling"));
  auto* sourceRow = new QHBoxLayout;
  sourceRow->addWidget(source_);
  sourceRow->addWidget(new QLabel(QStringLiteral("Port:")));
  sourceRow->addWidget(gaugePort_);
  sourceRow->addWidget(gaugeUnit_);
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&Operator:"), operator_);
  form->addRow(QStringLiteral("&Module ID:"), module_);
  form->addRow(QStringLiteral("&Reference instrument:"), reference_);
  form->addRow(QStringLiteral("Reference &due date:"), due_);
  form->addRow(QStringLiteral("Reference source:"), sourceRow);
  form->addRow(QStringLiteral("&Ceiling (mmHg):"), ceiling_);
  connect(source_, &QComboBox::currentIndexChanged, this, [this](int i) {
    gaugePort_->setEnabled(i == 1);
    gaugeUnit_->setEnabled(i == 1);
  });

  table_ = new QTableWidget(4, 4);
  table_->setAccessibleName(QStringLiteral("Checks"));
  table_->setHorizontalHeaderLabels({QStringLiteral("Check"), QStringLiteral("Parameters"),
                                     QStringLiteral("Limit"), QStringLiteral("Verdict")});
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setSectionResizeMode(kParams, QHeaderView::Stretch);
  const checks::Params defaults;
  for (int r = 0; r < 4; ++r) {
    const checks::CheckKind kind = kAll[r];
    auto* name = new QTableWidgetItem(
        QString::fromUtf8(checks::CheckName(kind).data(), int(checks::CheckName(kind).size())));
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    name->setCheckState(kind == checks::CheckKind::kRepeat ? Qt::Unchecked : Qt::Checked);
    table_->setItem(r, kCheck, name);
    table_->setItem(r, kParams, new QTableWidgetItem(ParamsText(kind, defaults)));
    auto* limit = new QTableWidgetItem(LimitText(kind, defaults));
    limit->setToolTip(LimitTip(kind));
    table_->setItem(r, kLimit, limit);
    auto* verdict = new QTableWidgetItem;
    verdict->setFlags(Qt::ItemIsEnabled);
    table_->setItem(r, kVerdict, verdict);
  }
  ceiling_->setText(QString::number(defaults.safety.ceilingMmHg));

  start_ = new QPushButton(QStringLiteral("&Start"));
  abort_ = new QPushButton(QStringLiteral("&Abort"));
  save_ = new QPushButton(QStringLiteral("Save &Report..."));
  print_ = new QPushButton(QStringLiteral("&Print..."));
  for (QPushButton* b : {start_, abort_, save_, print_}) {
    b->setAccessibleName(b->text().remove('&'));
    b->setAutoDefault(false);
  }
  progress_ = new QProgressBar;
  progress_->setRange(0, 1000);
  progress_->setValue(0);
  progress_->setAccessibleName(QStringLiteral("Progress"));
  phase_ = new QLabel(QStringLiteral("Ready"));
  phase_->setAccessibleName(QStringLiteral("Phase"));
  cuff_ = new QLabel(QStringLiteral("Cuff: -"));
  cuff_->setAccessibleName(QStringLiteral("Cuff pressure"));
  verdict_ = new QLabel;
  verdict_->setAccessibleName(QStringLiteral("Overall verdict"));
  QFont big = verdict_->font();
  big.setPointSize(big.pointSize() * 3);
  big.setBold(true);
  verdict_->setFont(big);
  verdict_->setAlignment(Qt::AlignCenter);

  auto* runRow = new QHBoxLayout;
  runRow->addWidget(start_);
  runRow->addWidget(abort_);
  runRow->addWidget(progress_, 1);
  auto* statusRow = new QHBoxLayout;
  statusRow->addWidget(phase_, 1);
  statusRow->addWidget(cuff_);
  auto* reportRow = new QHBoxLayout;
  reportRow->addWidget(verdict_, 1);
  reportRow->addWidget(save_);
  reportRow->addWidget(print_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(table_, 1);
  layout->addLayout(runRow);
  layout->addLayout(statusRow);
  layout->addLayout(reportRow);

  connect(start_, &QPushButton::clicked, this, [this] { Start(); });
  connect(abort_, &QPushButton::clicked, this, [this] { Abort(); });
  connect(save_, &QPushButton::clicked, this, [this] { SaveReportAs(); });
  connect(print_, &QPushButton::clicked, this, [this] { Print(); });
  connect(&tick_, &QTimer::timeout, this, [this] { Tick(); });
  tick_.setInterval(kTickMs);

  LoadSetup();
  SetRunning(false);

  RestoreGeometry(*this, "checks", QSize(760, 560));
}

ServiceChecksWindow::~ServiceChecksWindow() {
  run_.reset();  // aborts a running check
  if (isVisible()) SaveGeometry();
}

// Until the window has shown the end: the engine may finish on an event between two ticks.
bool ServiceChecksWindow::Running() const {
  return run_ && tick_.isActive();
}

std::optional<QString> ServiceChecksWindow::ReadSetup(std::vector<checks::CheckKind>& kinds,
                                                      checks::Params& params) const {
  kinds.clear();
  bool ok = false;
  const int ceiling = ceiling_->text().toInt(&ok);
  if (!ok || ceiling < 50 || ceiling > checks::kCeilingMaxMmHg)
    return QStringLiteral("The ceiling must be 50 to %1 mmHg.").arg(checks::kCeilingMaxMmHg);
  params.safety.ceilingMmHg = ceiling;
  for (int r = 0; r < 4; ++r) {
    const checks::CheckKind kind = kAll[r];
    const QString name = table_->item(r, kCheck)->text();
    const QString text = table_->item(r, kParams)->text();
    const QString limitText = table_->item(r, kLimit)->text().trimmed();
    std::optional<QString> why;
    double limit = 0;
    const auto parseLimit = [&](double min, double max,
                                const char* unit) -> std::optional<QString> {
      bool good = false;
      limit = limitText.toDouble(&good);
      if (!good || limit < min || limit > max)
        return QStringLiteral("The %1 limit must be %2 to %3 %4.")
            .arg(name, Num(min), Num(max), QLatin1String(unit));
      return std::nullopt;
    };
    switch (kind) {
      case checks::CheckKind::kLeak: {
        double target = params.leak.targetMmHg;
        why = ParseFields(name, text,
                          {{"target", 20, 320, &target},
                           {"settle", 0, 600, &params.leak.settleS},
                           {"hold", 5, 3600, &params.leak.holdS}});
        if (!why) why = parseLimit(0, 100, "mmHg/min");
        params.leak.targetMmHg = int(target);
        params.leak.limitMmHgMin = limit;
        break;
      }
      case checks::CheckKind::kStatic:
        why = ParseFields(name, text, {{"settle", 2, 600, &params.statics.settleS}},
                          &params.statics.pointsMmHg);
        if (!why) why = parseLimit(0, 50, "mmHg");
        params.statics.limitMmHg = limit;
        break;
      case checks::CheckKind::kOverpressure: {
        double below = params.overpressure.windowBelowMmHg;
        double above = params.overpressure.windowAboveMmHg;
        why = ParseFields(name, text, {{"below", 0, 100, &below}, {"above", 0, 100, &above}});
        if (!why) why = parseLimit(50, checks::kCeilingMaxMmHg, "mmHg");
        params.overpressure.windowBelowMmHg = int(below);
        params.overpressure.windowAboveMmHg = int(above);
        params.overpressure.limitMmHg = int(limit);
        break;
      }
      case checks::CheckKind::kRepeat: {
        double count = double(params.repeat.count);
        why = ParseFields(name, text,
                          {{"count", 1, 100, &count},
                           {"rest", 0, 3600, &params.repeat.restS},
                           {"timeout", 10, 600, &params.repeat.timeoutS}});
        params.repeat.count = long(count);
        if (!why && !limitText.isEmpty()) {
          const results::ExpectParse e = results::ParseExpect(limitText.toStdString());
          if (!e.limits)
            why = QString::fromStdString(e.error);
          else
            params.repeat.limits = *e.limits;
        }
        break;
      }
    }
    if (why) return why;
    if (table_->item(r, kCheck)->checkState() == Qt::Checked) kinds.push_back(kind);
  }
  if (kinds.empty()) return QStringLiteral("No check is ticked.");
  if (const auto why = checks::Validate(kinds, params)) return QString::fromStdString(*why);
  return std::nullopt;
}

void ServiceChecksWindow::Start() {
  if (Running()) return;
  const QString title = QStringLiteral("Service Checks");
  if (const auto why =
          checks::PreconditionFailure(host_.ChecksPortOpen(), host_.ChecksMeasuring())) {
    QString text = QString::fromStdString(*why);
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    hooks.warn(this, title, QStringLiteral("Cannot start: %1.").arg(text));
    return;
  }
  checks::Params params;
  if (const auto why = ReadSetup(kinds_, params)) {
    hooks.warn(this, title, *why);
    return;
  }
  run_.reset();
  gauge_.reset();
  checks::ReferenceSource* reference = nullptr;
  if (source_->currentIndex() == 1) {
    const auto port = serial::ParsePortName(gaugePort_->text().toStdString());
    const auto unit = checks::ParseUnit(gaugeUnit_->currentText().toStdString());
    if (!port || !unit) {
      hooks.warn(this, title, QStringLiteral("Give the gauge's port, COM1 to COM255."));
      return;
    }
    if (host_.ChecksPort() == "COM" + std::to_string(*port)) {
      hooks.warn(this, title, QStringLiteral("The gauge needs a port of its own."));
      return;
    }
    gauge_ = std::make_unique<checks::GaugePort>(*unit, *port, 9600);
    if (!gauge_->Open()) {
      hooks.warn(this, title,
                 QStringLiteral("Cannot open the gauge: %1")
                     .arg(QString::fromStdString(gauge_->OpenFailure())));
      gauge_.reset();
      return;
    }
    reference = &gauge_->Reference();
  }
  SaveSetup();
  typed_ = std::make_unique<TypedReference>(*this);
  if (reference == nullptr) reference = typed_.get();
  port_ = host_.ChecksPort();
  device_ = host_.ChecksDevice();
  for (int r = 0; r < 4; ++r) table_->item(r, kVerdict)->setText({});
  verdict_->clear();
  progress_->setValue(0);
  cuff_->setText({});
  cuff_->setEnabled(true);
  checks::Observer* observer = this;
  run_ = std::make_unique<console::ChecksRun>(host_, kinds_, params, reference, observer);
  SetRunning(true);
  run_->Start();
  tick_.start();
  Tick();
}

void ServiceChecksWindow::Abort() {
  if (!Running()) return;
  run_->Abort("aborted by the operator");
  Finished();
}

void ServiceChecksWindow::Tick() {
  if (!run_) return;
  if (gauge_) gauge_->Poll(host_.ChecksNowMs());
  run_->Tick();
  if (run_->Done()) Finished();
}

void ServiceChecksWindow::Finished() {
  tick_.stop();
  if (refDialog_ != nullptr) {
    refDialog_->deleteLater();
    refDialog_ = nullptr;
  }
  const checks::Verdict overall = run_->Engine().OverallVerdict();
  const auto name = checks::VerdictName(overall);
  verdict_->setText(QString::fromUtf8(name.data(), int(name.size())));
  verdict_->setStyleSheet(QStringLiteral("color: %1").arg(VerdictColor(overall).name()));
  // A stopped run is not a finished one: the bar stays where it stopped, and a vent that could
  // not go out is said where the engineer looks.
  if (run_->Engine().VentUnsent()) {
    phase_->setText(
        QStringLiteral("Stopped: the cuff may still hold pressure; it is vented when "
                       "the port is back"));
  } else if (overall == checks::Verdict::kAborted) {
    phase_->setText(QStringLiteral("Stopped"));
  } else {
    phase_->setText(QStringLiteral("Done"));
    progress_->setValue(progress_->maximum());
  }
  // The last reading, no longer live.
  cuff_->setEnabled(false);
  SetRunning(false);
}

void ServiceChecksWindow::SetRunning(bool running) {
  start_->setEnabled(!running);
  abort_->setEnabled(running);
  const bool report = !running && run_ != nullptr;
  save_->setEnabled(report);
  print_->setEnabled(report);
  for (QWidget* w : std::initializer_list<QWidget*>{operator_, module_, reference_, due_, source_,
                                                    ceiling_, table_})
    w->setEnabled(!running);
  gaugePort_->setEnabled(!running && source_->currentIndex() == 1);
  gaugeUnit_->setEnabled(!running && source_->currentIndex() == 1);
}

void ServiceChecksWindow::OnProgress(const checks::Progress& p) {
  phase_->setText(QString::fromStdString(p.phase));
  if (p.cuffMmHg) cuff_->setText(QStringLiteral("Cuff: %1 mmHg").arg(*p.cuffMmHg));
  if (p.checkCount > 0)
    progress_->setValue(int(1000.0 * (double(p.checkIndex) + std::clamp(p.fraction, 0.0, 1.0)) /
                            double(p.checkCount)));
}

void ServiceChecksWindow::OnCheckDone(const checks::CheckResult& result) {
  const auto row = std::find(std::begin(kAll), std::end(kAll), result.kind) - std::begin(kAll);
  QTableWidgetItem* item = table_->item(int(row), kVerdict);
  const auto name = checks::VerdictName(result.verdict);
  QString text = QString::fromUtf8(name.data(), int(name.size()));
  if (!result.reason.empty()) text += QStringLiteral(": ") + QString::fromStdString(result.reason);
  item->setText(text);
  item->setForeground(VerdictColor(result.verdict));
}

void ServiceChecksWindow::AskReference(size_t point, int targetMmHg) {
  // Asked from inside the engine's tick: the dialog opens once the tick is over.
  QTimer::singleShot(0, this, [this, point, targetMmHg] {
    if (!Running()) return;
    delete refDialog_;
    auto* dlg = new QDialog(this);
    refDialog_ = dlg;
    dlg->setWindowTitle(QStringLiteral("Reference Reading"));
    dlg->setAccessibleName(QStringLiteral("Reference Reading"));
    auto* label = new QLabel(QStringLiteral("Reference reading at %1 mmHg").arg(targetMmHg));
    auto* value = new QLineEdit;
    value->setAccessibleName(QStringLiteral("Reference reading"));
    value->setValidator(new QDoubleValidator(-50, 400, 1, value));
    auto* buttons = new QDialogButtonBox;
    QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
    QPushButton* abort = buttons->addButton(QStringLiteral("Abort"), QDialogButtonBox::RejectRole);
    ok->setAccessibleName(QStringLiteral("OK"));
    abort->setAccessibleName(QStringLiteral("Abort"));
    ok->setDefault(true);
    auto* layout = new QVBoxLayout(dlg);
    layout->addWidget(label);
    layout->addWidget(value);
    layout->addWidget(buttons);
    connect(ok, &QPushButton::clicked, dlg, [this, dlg, value, point] {
      bool good = false;
      const double v = value->text().toDouble(&good);
      if (!good) return;  // stays open until a number is typed
      if (typed_) typed_->Answer(point, v);
      dlg->accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    connect(dlg, &QDialog::rejected, this, [this] { Abort(); });
    connect(dlg, &QDialog::finished, this, [this, dlg] {
      if (refDialog_ == dlg) refDialog_ = nullptr;
      dlg->deleteLater();
    });
    dlg->setWindowModality(Qt::WindowModal);
    dlg->show();
    value->setFocus();
  });
}

checks::ReportInfo ServiceChecksWindow::Info() const {
  checks::ReportInfo info;
  info.operatorName = operator_->text().toStdString();
  info.moduleId = module_->text().toStdString();
  info.port = port_;
  info.device = device_;
  info.referenceName = reference_->text().toStdString();
  info.referenceDue = due_->text().trimmed().toStdString();
  return info;
}

void ServiceChecksWindow::BuildDocument(QTextDocument& doc) const {
  const checks::RunRecord record = checks::RecordOf(run_->Engine());
  QString html = QString::fromStdString(checks::ReportHtml(Info(), record));
  // The document cannot draw vector pictures: each chart's image stands in its place, a block of
  // its own so that it does not join the heading's line.
  constexpr int kChartWidth = 600;  // within an A4 page's printed margins
  static const QRegularExpression kSvg(QStringLiteral("<svg .*?</svg>"),
                                       QRegularExpression::DotMatchesEverythingOption);
  for (int n = 0;; ++n) {
    const QRegularExpressionMatch m = kSvg.match(html);
    if (!m.hasMatch()) break;
    const QImage img = SvgImage(m.captured());
    const QString name = QStringLiteral("chart-%1.png").arg(n);
    doc.addResource(QTextDocument::ImageResource, QUrl(name), img);
    html.replace(
        m.capturedStart(), m.capturedLength(),
        img.isNull()
            ? QStringLiteral("<p>(The chart could not be drawn.)</p>")
            : QStringLiteral("<p><img src=\"%1\" width=\"%2\"></p>").arg(name).arg(kChartWidth));
  }
  const QString sign = QStringLiteral(
      "<div style=\"page-break-before: always\"><h2>Sign-off</h2>"
      "<p>Operator: %1</p><p>Module ID: %2</p><br><br>"
      "<p>Signature: ________________________________________</p><br><br>"
      "<p>Date: ____________________</p></div>");
  const QString tail = sign.arg(operator_->text().toHtmlEscaped(), module_->text().toHtmlEscaped());
  const qsizetype body = html.lastIndexOf(QStringLiteral("</body>"));
  if (body >= 0)
    html.insert(body, tail);
  else
    html += tail;
  doc.setHtml(html);
}

bool ServiceChecksWindow::SaveReport(const QString& path) {
  if (!run_) return false;
  const QString title = QStringLiteral("Save Report");
  if (path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive))
    return WriteFile(hooks, this, title, path,
                     checks::ReportJson(Info(), checks::RecordOf(run_->Engine())));
  if (path.endsWith(QStringLiteral(".html"), Qt::CaseInsensitive) ||
      path.endsWith(QStringLiteral(".htm"), Qt::CaseInsensitive))
    return WriteFile(hooks, this, title, path,
                     checks::ReportHtml(Info(), checks::RecordOf(run_->Engine())));
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    hooks.warn(this, title, QStringLiteral("Cannot save %1.").arg(path));
    return false;
  }
  {
    QPdfWriter pdf(&file);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setTitle(QStringLiteral("Service checks"));
    QTextDocument doc;
    BuildDocument(doc);
    doc.print(&pdf);
  }
  if (!file.commit()) {
    hooks.warn(this, title, QStringLiteral("Cannot save %1.").arg(path));
    return false;
  }
  return true;
}

QImage ServiceChecksWindow::ReportPage(int page, int width) const {
  if (!run_) return {};
  QTextDocument doc;
  BuildDocument(doc);
  // A4 at the document's own 96 dpi-like units, less margins.
  const QSizeF pageSize(794, 1123);
  doc.setPageSize(pageSize);
  const double scale = double(width) / pageSize.width();
  QImage img(QSize(width, int(pageSize.height() * scale)), QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.scale(scale, scale);
  p.translate(0, -page * pageSize.height());
  doc.drawContents(&p, QRectF(QPointF(0, page * pageSize.height()), pageSize));
  return img;
}

void ServiceChecksWindow::SaveReportAs() {
  const QString path =
      hooks.askPath(this, QStringLiteral("Save Report"), QStringLiteral("service-checks.pdf"),
                    QStringLiteral("PDF (*.pdf);;HTML (*.html);;JSON (*.json)"));
  if (!path.isEmpty()) (void)SaveReport(path);
}

void ServiceChecksWindow::Print() {
  if (!run_) return;
  QPrinter printer;
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() != QDialog::Accepted) return;
  QTextDocument doc;
  BuildDocument(doc);
  doc.print(&printer);
}

void ServiceChecksWindow::LoadSetup() {
  const settings::Values v = settings::Load(settings::ConfigPath(kSetupFile));
  const auto text = [&v](const std::string& key, QLineEdit* e) {
    if (auto it = v.find(key); it != v.end()) e->setText(QString::fromStdString(it->second));
  };
  text("operator", operator_);
  text("module", module_);
  text("reference", reference_);
  text("due", due_);
  text("gauge.port", gaugePort_);
  text("ceiling", ceiling_);
  if (auto it = v.find("source"); it != v.end()) source_->setCurrentIndex(it->second == "gauge");
  if (auto it = v.find("gauge.unit"); it != v.end())
    gaugeUnit_->setCurrentText(QString::fromStdString(it->second));
  for (int r = 0; r < 4; ++r) {
    const std::string name(checks::CheckName(kAll[r]));
    if (auto it = v.find(name + ".on"); it != v.end())
      table_->item(r, kCheck)->setCheckState(it->second == "1" ? Qt::Checked : Qt::Unchecked);
    if (auto it = v.find(name + ".params"); it != v.end())
      table_->item(r, kParams)->setText(QString::fromStdString(it->second));
    if (auto it = v.find(name + ".limit"); it != v.end())
      table_->item(r, kLimit)->setText(QString::fromStdString(it->second));
  }
}

void ServiceChecksWindow::SaveSetup() const {
  settings::Values v;
  v["operator"] = operator_->text().toStdString();
  v["module"] = module_->text().toStdString();
  v["reference"] = reference_->text().toStdString();
  v["due"] = due_->text().toStdString();
  v["source"] = source_->currentIndex() == 1 ? "gauge" : "typed";
  v["gauge.port"] = gaugePort_->text().toStdString();
  v["gauge.unit"] = gaugeUnit_->currentText().toStdString();
  v["ceiling"] = ceiling_->text().toStdString();
  for (int r = 0; r < 4; ++r) {
    const std::string name(checks::CheckName(kAll[r]));
    v[name + ".on"] = table_->item(r, kCheck)->checkState() == Qt::Checked ? "1" : "0";
    v[name + ".params"] = table_->item(r, kParams)->text().toStdString();
    v[name + ".limit"] = table_->item(r, kLimit)->text().toStdString();
  }
  (void)settings::Save(settings::ConfigPath(kSetupFile), v);
}

void ServiceChecksWindow::SaveGeometry() const {
  views::SaveGeometry(*this, "checks");
}

void ServiceChecksWindow::keyPressEvent(QKeyEvent* e) {
  if (IsCloseKey(*e)) {
    Abort();
    close();
    return;
  }
  QWidget::keyPressEvent(e);
}

void ServiceChecksWindow::closeEvent(QCloseEvent* e) {
  Abort();
  QWidget::closeEvent(e);
}

void ServiceChecksWindow::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  if (!e->spontaneous()) SaveGeometry();
}

}  // namespace views
