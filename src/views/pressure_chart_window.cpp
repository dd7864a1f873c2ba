#include "views/pressure_chart_window.h"

#include <QChart>
#include <QChartView>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <array>
#include <cmath>

#include "framework/qt/window_role.h"
#include "views/close_key.h"
#include "views/window_geometry.h"

namespace views {

namespace {

// 15 frames a second at most: smooth enough to follow a deflation, cheap at 190 points a second.
constexpr int kFrameMs = 66;
constexpr double kMinSpan = 1.0;
constexpr double kMaxSpan = 3 * 24 * 3600.0;
constexpr int kFullScale = 300;

}  // namespace

class PlotView final : public QChartView {
 public:
  PlotView(QChart* chart, PressureChartWindow& owner) : QChartView(chart), owner_(owner) {
    setRenderHint(QPainter::Antialiasing, false);
    setFocusPolicy(Qt::StrongFocus);
    setOptimizationFlags(QGraphicsView::DontSavePainterState |
                         QGraphicsView::DontAdjustForAntialiasing);
  }

 protected:
  void wheelEvent(QWheelEvent* e) override {
    const QRectF area = chart()->plotArea();
    const double fraction =
        area.width() > 0 ? std::clamp((e->position().x() - area.left()) / area.width(), 0.0, 1.0)
                         : 1.0;
    const int steps = e->angleDelta().y() / 120;
    if (steps != 0) owner_.Zoom(std::pow(0.8, steps), fraction);
    e->accept();
  }

  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return QChartView::mousePressEvent(e);
    dragX_ = e->position().x();
    dragFrom_ = owner_.From();
    dragging_ = true;
    e->accept();
  }

  void mouseMoveEvent(QMouseEvent* e) override {
    if (!dragging_) return QChartView::mouseMoveEvent(e);
    const double width = std::max(1.0, chart()->plotArea().width());
    owner_.PanTo(dragFrom_ - (e->position().x() - dragX_) / width * owner_.Span());
    e->accept();
  }

  void mouseReleaseEvent(QMouseEvent* e) override {
    dragging_ = false;
    QChartView::mouseReleaseEvent(e);
  }

  void drawForeground(QPainter* painter, const QRectF& rect) override {
    QChartView::drawForeground(painter, rect);
    owner_.DrawLine(*painter, chart()->plotArea());
    owner_.DrawMarkers(*painter, chart()->plotArea());
  }

 private:
  PressureChartWindow& owner_;
  bool dragging_ = false;
  double dragX_ = 0, dragFrom_ = 0;
};

PressureChartWindow::PressureChartWindow(chart::PressureSeries& series, QWidget* parent)
    : QWidget(parent, Qt::Window), series_(series) {
  fw::qt::MarkAsWindow(*this);
  setWindowTitle(QStringLiteral("Pressure Chart"));
  setAccessibleName(QStringLiteral("Pressure Chart"));

  auto* chart = new QChart;
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->legend()->hide();
  chart->setDropShadowEnabled(false);
  chart->setBackgroundRoundness(0);
  axisX_ = new QValueAxis;
  axisX_->setTitleText(QStringLiteral("Time (s)"));
  axisX_->setLabelFormat(QStringLiteral("%.0f"));
  axisY_ = new QValueAxis;
  axisY_->setTitleText(QStringLiteral("mmHg"));
  axisY_->setLabelFormat(QStringLiteral("%.0f"));
  axisY_->setTickCount(7);
  chart->addAxis(axisX_, Qt::AlignBottom);
  chart->addAxis(axisY_, Qt::AlignLeft);
  axisY_->setRange(0, kFullScale);

  plot_ = new PlotView(chart, *this);
  plot_->setAccessibleName(QStringLiteral("Cuff pressure plot"));

  auto* follow = new QPushButton(QStringLiteral("&Follow"));
  auto* saveImage = new QPushButton(QStringLiteral("Save &Image..."));
  auto* saveData = new QPushButton(QStringLiteral("Save &Data..."));
  for (QPushButton* b : {follow, saveImage, saveData}) {
    b->setAccessibleName(b->text().remove(QLatin1Char('&')));
    b->setAutoDefault(false);
  }
  connect(follow, &QPushButton::clicked, this, [this] { Follow(); });
  connect(saveImage, &QPushButton::clicked, this, [this] { SaveImage(); });
  connect(saveData, &QPushButton::clicked, this, [this] { SaveData(); });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(follow);
  buttons->addStretch(1);
  buttons->addWidget(saveImage);
  buttons->addWidget(saveData);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(plot_, 1);
  layout->addLayout(buttons);

  RestoreGeometry(*this, "chart", QSize(900, 500));
  UpdateDescription();
  series_.SetListener([this] { Schedule(); });
}

PressureChartWindow::~PressureChartWindow() {
  series_.SetListener(nullptr);
  if (isVisible()) SaveGeometry();
}

void PressureChartWindow::Schedule() {
  if (isVisible() && !isMinimized() && !frameTimer_.isActive()) frameTimer_.start(kFrameMs, this);
}

QWidget* PressureChartWindow::Plot() const {
  return plot_;
}

void PressureChartWindow::SaveGeometry() const {
  views::SaveGeometry(*this, "chart");
}

void PressureChartWindow::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  Refresh();
}

void PressureChartWindow::hideEvent(QHideEvent* e) {
  QWidget::hideEvent(e);
  frameTimer_.stop();
  if (!e->spontaneous()) SaveGeometry();
}

void PressureChartWindow::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && !isMinimized()) Refresh();
}

void PressureChartWindow::timerEvent(QTimerEvent* e) {
  if (e->timerId() != frameTimer_.timerId()) return;
  frameTimer_.stop();
  Refresh();
}

void PressureChartWindow::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_End) {
    Follow();
    return;
  }
  if (IsCloseKey(*e)) {
    close();
    return;
  }
  QWidget::keyPressEvent(e);
}

void PressureChartWindow::Refresh() {
  if (!isVisible() || isMinimized()) return;
  if (series_.Version() == drawnVersion_ && !viewChanged_) return;
  Draw();
}

void PressureChartWindow::SetSpan(double seconds) {
  span_ = std::clamp(seconds, kMinSpan, kMaxSpan);
  viewChanged_ = true;
  Refresh();
}

void PressureChartWindow::Follow() {
  follow_ = true;
  viewChanged_ = true;
  Refresh();
}

void PressureChartWindow::Zoom(double factor, double anchorFraction) {
  const double next = std::clamp(span_ * factor, kMinSpan, kMaxSpan);
  if (!follow_) {
    // The time under the pointer stays under it.
    const double anchor = from_ + anchorFraction * span_;
    from_ = anchor - anchorFraction * next;
  }
  span_ = next;
  viewChanged_ = true;
  Refresh();
}

void PressureChartWindow::PanTo(double from) {
  follow_ = false;
  from_ = from;
  viewChanged_ = true;
  Refresh();
}

void PressureChartWindow::Draw() {
  drawnVersion_ = series_.Version();
  viewChanged_ = false;
  if (follow_) {
    // The time axis moves on in tenths of the span, not at every point: a moved axis lays out
    // its labels and grid again, which costs more than the line itself.
    const double step = span_ / 10;
    const double end = std::ceil(series_.EndSeconds() / step) * step;
    from_ = std::max(end, span_) - span_;
  }
  const double to = from_ + span_;
  // Two entries a pixel column at most: the slices give up to four, so half as many slices.
  const int columns = std::max(1, static_cast<int>(plot_->chart()->plotArea().width()) / 2);
  int maxValue = 0;
  series_.Visible(from_, to, columns, visible_, maxValue);
  points_.resize(static_cast<qsizetype>(visible_.size()));
  runStarts_.clear();
  for (size_t i = 0; i < visible_.size(); ++i) {
    const auto at = static_cast<qsizetype>(i);
    points_[at] = QPointF(visible_[i].seconds, visible_[i].mmHg);
    if (i == 0 || visible_[i].gapBefore) runStarts_.push_back(at);
  }
  // Dots only where they stand apart; a dense line is its own picture.
  dots_ = static_cast<int>(points_.size()) * 3 < columns;
  if (axisX_->min() != from_ || axisX_->max() != to) axisX_->setRange(from_, to);
  const int top = maxValue > kFullScale ? (maxValue + 49) / 50 * 50 : kFullScale;
  if (axisY_->max() != top) axisY_->setRange(0, top);
  UpdateDescription();
  plot_->viewport()->update();
  ++frames_;
}

void PressureChartWindow::UpdateDescription() {
  const QString text = QStringLiteral("Latest: %1 mmHg; %2 points")
                           .arg(series_.Latest())
                           .arg(static_cast<qulonglong>(series_.Count()));
  if (plot_->accessibleDescription() != text) plot_->setAccessibleDescription(text);
}

void PressureChartWindow::DrawLine(QPainter& painter, const QRectF& area) const {
  if (points_.isEmpty() || area.width() <= 0 || area.height() <= 0 || span_ <= 0) return;
  const double top = std::max(1.0, axisY_->max());
  const double sx = area.width() / span_, sy = area.height() / top;
  QPolygonF run;
  painter.save();
  painter.setClipRect(area);
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QPen line(QColor(0x20, 0x9f, 0xdf), 2);
  painter.setBrush(QColor(0x20, 0x9f, 0xdf));
  for (size_t r = 0; r < runStarts_.size(); ++r) {
    const qsizetype begin = runStarts_[r];
    const qsizetype end = r + 1 < runStarts_.size() ? runStarts_[r + 1] : points_.size();
    run.resize(end - begin);
    for (qsizetype i = begin; i < end; ++i) {
      const QPointF& p = points_[i];
      run[i - begin] = QPointF(area.left() + (p.x() - from_) * sx, area.bottom() - p.y() * sy);
    }
    painter.setPen(line);
    painter.drawPolyline(run);
    // A lone point would draw nothing as a line.
    if (dots_ || run.size() == 1) {
      painter.setPen(Qt::NoPen);
      for (const QPointF& p : run) painter.drawEllipse(p, 3.0, 3.0);
    }
  }
  painter.restore();
}

void PressureChartWindow::DrawMarkers(QPainter& painter, const QRectF& area) const {
  const auto& markers = series_.Markers();
  if (markers.empty() || area.width() <= 0) return;
  const double to = from_ + span_;
  const QFontMetrics fm(painter.font());
  painter.save();
  painter.setClipRect(area.adjusted(0, -fm.height() * 3, 0, 0));
  // Labels take the first of three rows where they clear the one before, so that markers close
  // together stay readable; one that would run past the plot's right edge goes left of its line.
  constexpr int kRows = 3;
  std::array<double, kRows> rowEnd;
  rowEnd.fill(-1e9);
  // Markers are in time order: start at the first one inside the span.
  auto it = std::lower_bound(
      markers.begin(), markers.end(), from_,
      [this](const chart::Marker& m, double s) { return series_.SecondsOf(m.ms) < s; });
  for (; it != markers.end(); ++it) {
    const double s = series_.SecondsOf(it->ms);
    if (s > to) break;
    const double x = area.left() + (s - from_) / span_ * area.width();
    const bool result =
        !it->label.empty() && std::isdigit(static_cast<unsigned char>(it->label[0]));
    painter.setPen(
        QPen(result ? QColor(0xc0, 0x20, 0x20) : QColor(0x40, 0x40, 0x40), 1, Qt::DashLine));
    painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    painter.setPen(result ? QColor(0xc0, 0x20, 0x20) : Qt::black);
    const QString label = QString::fromStdString(it->label);
    const double width = fm.horizontalAdvance(label);
    double left = x + 3;
    if (left + width > area.right() && x - 3 - width >= area.left()) left = x - 3 - width;
    int row = 0;
    for (int r = 0; r < kRows; ++r) {
      if (rowEnd[r] + 4 <= left) {
        row = r;
        break;
      }
      if (rowEnd[r] < rowEnd[row]) row = r;
    }
    rowEnd[row] = left + width;
    const double y = area.top() + fm.ascent() + 2 + row * fm.height();
    painter.drawText(QPointF(left, y), label);
  }
  painter.restore();
}

void PressureChartWindow::SaveImage() {
  if (!hooks.askPath) return;
  const QString path =
      hooks.askPath(this, QStringLiteral("Save Image"), QStringLiteral("pressure.png"),
                    QStringLiteral("PNG images (*.png)"));
  if (path.isEmpty()) return;
  Refresh();
  if (!plot_->grab().save(path, "PNG") && hooks.warn) {
    hooks.warn(this, QStringLiteral("Save Image"), QStringLiteral("Cannot save %1.").arg(path));
  }
}

void PressureChartWindow::SaveData() {
  if (!hooks.askPath) return;
  const QString path =
      hooks.askPath(this, QStringLiteral("Save Data"), QStringLiteral("pressure.csv"),
                    QStringLiteral("CSV files (*.csv)"));
  if (path.isEmpty()) return;
  (void)WriteFile(hooks, this, QStringLiteral("Save Data"), path, series_.Csv());
}

}  // namespace views
