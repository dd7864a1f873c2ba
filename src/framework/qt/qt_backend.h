#pragma once
// The real window: Qt Widgets.

#include <chrono>
#include <memory>
#include <string>

#include "framework/backend.h"

class QApplication;

namespace fw::qt {

// Without keyboard or mouse input for this long, the text cursor stops blinking (it stays shown),
// as desktop toolkits do: an idle console then does not wake twice a second to repaint it.
inline constexpr std::chrono::milliseconds kCaretBlinkTimeout{10'000};

class CaretBlinkTimeout;
class SignalClose;

class QtBackend final : public Backend {
 public:
  // Creates the QApplication; the application's name is argv[0]'s base name.
  QtBackend(int& argc, char** argv);
  ~QtBackend() override;

  std::unique_ptr<Window> CreateWindow(const res::DialogTemplate& tmpl, WindowEvents& events,
                                       Window* parent) override;
  int MessageBox(std::string_view text, std::string_view title, UINT type) override;
  [[nodiscard]] int GetSystemMetrics(int index) const override;
  [[nodiscard]] std::string AppName() const override { return appName_; }
  bool OpenFolder(const std::string& path) override;

 private:
  std::unique_ptr<QApplication> app_;
  std::unique_ptr<CaretBlinkTimeout> caretBlink_;  // made after the application, gone before it
  std::unique_ptr<SignalClose> signalClose_;       // likewise
  std::string appName_;
};

}  // namespace fw::qt
