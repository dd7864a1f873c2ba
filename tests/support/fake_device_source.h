#pragma once
// A device source fed by the test: devices plugged and unplugged at will, nodes with the access
// the test gives them. Copies share one state, so a test keeps a copy of the source it hands over.

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ports/ports.h"

namespace ports_test {

class FakeDeviceSource final : public ports::DeviceSource {
 public:
  std::vector<ports::Device> Enumerate() override {
    ++state_->enumerations;
    return state_->devices;
  }
  bool TakeChanges() override { return std::exchange(state_->changed, false); }
  // Nodes the test made are what it says; any other path is looked at on disk.
  ports::NodeState Probe(const std::string& path) const override {
    auto it = state_->nodes.find(path);
    return it != state_->nodes.end() ? it->second : ports::ProbeNode(path);
  }

  void Plug(const ports::Device& d, ports::NodeState st = {true, true, "dialout"}) {
    state_->devices.push_back(d);
    state_->nodes[d.node] = st;
    state_->changed = true;
  }
  void Unplug(const std::string& node) {
    auto& v = state_->devices;
    v.erase(std::remove_if(v.begin(), v.end(), [&](const auto& d) { return d.node == node; }),
            v.end());
    state_->nodes[node] = {};
    state_->changed = true;
  }
  [[nodiscard]] int Enumerations() const { return state_->enumerations; }
  [[nodiscard]] std::unique_ptr<ports::DeviceSource> Share() const {
    return std::make_unique<FakeDeviceSource>(*this);
  }

 private:
  struct State {
    std::vector<ports::Device> devices;
    std::map<std::string, ports::NodeState> nodes;
    bool changed = true;
    int enumerations = 0;
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

// A USB adapter and an on-board UART, as the tests plug them.
inline ports::Device UsbAdapter(const std::string& node = "/dev/ttyUSB0",
                                const std::string& serial = "SN0001") {
  ports::Device d;
  d.node = node;
  d.kind = ports::DeviceKind::kUsb;
  d.vendor = "Example";
  d.product = "USB Serial";
  d.serial = serial;
  d.vendorId = "1234";
  d.productId = "5678";
  d.byId = "/dev/serial/by-id/usb-Example_USB_Serial_" + serial + "-if00-port0";
  return d;
}

inline ports::Device OnBoard(const std::string& node = "/dev/ttyS0") {
  ports::Device d;
  d.node = node;
  return d;
}

}  // namespace ports_test
