#pragma once
// SIGTERM, SIGINT and SIGHUP end the program as the close box does: the open windows are closed,
// innermost first, so the dialogs end their loops and their owners close the port.

#include <QObject>
#include <memory>

class QSocketNotifier;
class QWidget;

namespace fw::qt {

class SignalClose final : public QObject {
 public:
  SignalClose();
  ~SignalClose() override;
  SignalClose(const SignalClose&) = delete;
  SignalClose& operator=(const SignalClose&) = delete;

 private:
  void OnSignal();
  static void CloseInnermost(QWidget* previous);

  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace fw::qt
