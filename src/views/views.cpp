#include "views/views.h"

#include "views/pressure_chart_window.h"
#include "views/results_window.h"

namespace views {

namespace {

// Owns its window: the console closes it by letting go of the view.
class WidgetView final : public fw::View {
 public:
  explicit WidgetView(std::unique_ptr<QWidget> widget) : widget_(std::move(widget)) {}
  void Show() override {
    widget_->show();
    widget_->showNormal();
    widget_->raise();
    widget_->activateWindow();
  }

 private:
  std::unique_ptr<QWidget> widget_;
};

}  // namespace

std::unique_ptr<fw::View> MakePressureChartView(chart::PressureSeries& series) {
  return std::make_unique<WidgetView>(std::make_unique<PressureChartWindow>(series));
}

std::unique_ptr<fw::View> MakeResultsView(results::BpResults& rows) {
  return std::make_unique<WidgetView>(std::make_unique<ResultsWindow>(rows));
}

}  // namespace views
