#include "app/qt_views.h"

#include <QPointer>
#include <QWidget>

#include "framework/qt/qt_window.h"
#include "views/ports_window.h"
#include "views/pressure_chart_window.h"
#include "views/results_window.h"
#include "views/send_bytes_dialog.h"
#include "views/service_checks_window.h"

namespace {

QWidget* Widget(fw::Window* window) {
  auto* qt = dynamic_cast<fw::qt::QtWindow*>(window);
  return qt != nullptr ? qt->Dialog() : nullptr;
}

// Closes its window when the console lets go of it. The window is also a child of the console's
// window, which may go first and take the window with it.
class WidgetView final : public console::View {
 public:
  explicit WidgetView(QWidget* widget) : widget_(widget) {}
  ~WidgetView() override { delete widget_.data(); }
  WidgetView(const WidgetView&) = delete;
  WidgetView& operator=(const WidgetView&) = delete;

  void Show() override {
    if (widget_.isNull()) return;
    widget_->show();
    widget_->showNormal();
    widget_->raise();
    widget_->activateWindow();
  }

 private:
  QPointer<QWidget> widget_;
};

}  // namespace

std::unique_ptr<console::View> QtViews::CreatePressureChart(chart::PressureSeries& series,
                                                            fw::Window* parent) {
  return std::make_unique<WidgetView>(new views::PressureChartWindow(series, Widget(parent)));
}

std::unique_ptr<console::View> QtViews::CreateResults(results::BpResults& rows,
                                                      fw::Window* parent) {
  return std::make_unique<WidgetView>(new views::ResultsWindow(rows, Widget(parent)));
}

std::unique_ptr<console::View> QtViews::CreateServiceChecks(console::ChecksHost& host,
                                                            fw::Window* parent) {
  return std::make_unique<WidgetView>(new views::ServiceChecksWindow(host, Widget(parent)));
}

void QtViews::RunPorts(std::unique_ptr<ports::DeviceSource> source,
                       const std::filesystem::path& dir, fw::Window* parent) {
  views::PortsWindow window(std::move(source), dir, Widget(parent));
  window.exec();
}

std::optional<std::vector<uint8_t>> QtViews::RunSendBytes(fw::Window* parent) {
  views::SendBytesDialog dialog(Widget(parent));
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.Bytes();
}
