#pragma once
// "Pressure Chart": the cuff pressures of the session against time, with the commands and
// results as labelled markers. It shows only the visible span, reduced to what the pixels
// can show, and redraws only while shown and only when something visible changed, at most
// one frame a period after the change (no timer runs while nothing changes). The line breaks
// where no point came for a while: a series of the chart library cannot, so the plot draws
// the line itself, a polyline per run, over the chart's axes and grid.

#include <QBasicTimer>
#include <QWidget>
#include <vector>

#include "chart/pressure_series.h"
#include "views/save_hooks.h"

class QValueAxis;
class QPushButton;

namespace views {

class PlotView;

class PressureChartWindow final : public QWidget {
 public:
  // A window of its own; with a parent, a window of the parent that takes input while the
  // parent runs modally.
  explicit PressureChartWindow(chart::PressureSeries& series, QWidget* parent = nullptr);
  ~PressureChartWindow() override;

  // Redraws now if something changed (the timer does it otherwise).
  void Refresh();
  [[nodiscard]] QWidget* Plot() const;
  [[nodiscard]] int FramesDrawn() const { return frames_; }
  // The visible span in seconds of the session.
  [[nodiscard]] double From() const { return from_; }
  [[nodiscard]] double Span() const { return span_; }
  [[nodiscard]] bool Following() const { return follow_; }
  void SetSpan(double seconds);
  void Follow();
  void SaveImage();
  void SaveData();

  SaveHooks hooks = DefaultSaveHooks();

  // For the plot.
  void Zoom(double factor, double anchorFraction);
  void PanTo(double from);
  void DrawMarkers(QPainter& painter, const QRectF& plotArea) const;
  void DrawLine(QPainter& painter, const QRectF& plotArea) const;
  // The runs of the visible line, as drawn: each an unbroken stretch of points.
  [[nodiscard]] int RunCount() const { return static_cast<int>(runStarts_.size()); }

 protected:
  void showEvent(QShowEvent* e) override;
  void hideEvent(QHideEvent* e) override;
  void timerEvent(QTimerEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void Draw();
  // Asks for a frame within one period.
  void Schedule();
  void SaveGeometry() const;
  void UpdateDescription();

  chart::PressureSeries& series_;
  PlotView* plot_ = nullptr;  // owned by this widget
  QValueAxis* axisX_ = nullptr;
  QValueAxis* axisY_ = nullptr;
  QBasicTimer frameTimer_;
  std::vector<chart::Sample> visible_;
  // Seconds and mmHg of the visible samples; runStarts_ holds where each run begins.
  QList<QPointF> points_;
  std::vector<qsizetype> runStarts_;
  bool dots_ = false;
  uint64_t drawnVersion_ = ~uint64_t{0};
  bool viewChanged_ = true;
  bool follow_ = true;
  double span_ = 60.0;
  double from_ = 0.0;
  int frames_ = 0;
};

}  // namespace views
