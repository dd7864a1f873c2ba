#include "ports/browser.h"

#include <algorithm>
#include <utility>

namespace ports {

namespace {

std::string AccessCell(const NodeState& state) {
  if (!state.exists) return {};
  return state.access ? "yes" : AccessFix(state);
}

}  // namespace

Cells PortCells(const PortRow& row) {
  return {PortName(row.port), row.device, row.state.exists ? "yes" : "no", AccessCell(row.state)};
}

Cells DeviceCells(const DeviceRow& row) {
  std::string description = KindText(row.device.kind);
  for (const std::string& part : {Identity(row.device), MappedText(row.mappedAs)}) {
    if (!part.empty()) description += ", " + part;
  }
  return {row.device.node, description, std::filesystem::path(row.device.byId).filename().string(),
          AccessCell(row.state)};
}

Browser::Browser(std::unique_ptr<DeviceSource> source, std::filesystem::path dir)
    : source_(std::move(source)), dir_(std::move(dir)) {
  (void)source_->TakeChanges();  // what is there now is enumerated next
  found_ = source_->Enumerate();
}

bool Browser::Refresh() {
  if (source_->TakeChanges()) found_ = source_->Enumerate();
  Snapshot next = BuildSnapshot(found_, *source_, dir_);
  if (shownOnce_ && next == shown_) return false;
  shown_ = std::move(next);
  shownOnce_ = true;
  return true;
}

const PortRow* Browser::FindPort(uint8_t port) const {
  for (const auto& r : shown_.ports) {
    if (r.port == port) return &r;
  }
  return nullptr;
}

const DeviceRow* Browser::FindDevice(const std::string& node) const {
  for (const auto& r : shown_.devices) {
    if (r.device.node == node) return &r;
  }
  return nullptr;
}

bool Browser::CanMap(const std::vector<uint8_t>& ports,
                     const std::vector<std::string>& nodes) const {
  return ports.size() == 1 && nodes.size() == 1 && FindPort(ports[0]) && FindDevice(nodes[0]);
}

bool Browser::CanUnmap(const std::vector<uint8_t>& ports) const {
  return std::any_of(ports.begin(), ports.end(), [this](uint8_t p) {
    const PortRow* row = FindPort(p);
    return row && row->mapped;
  });
}

Browser::Result Browser::Map(uint8_t port, const std::string& node) {
  const DeviceRow* dev = FindDevice(node);
  if (!FindPort(port) || !dev) return {};
  const std::string target = dev->device.byId.empty() ? dev->device.node : dev->device.byId;
  Result out;
  if (const Outcome o = ports::Map(dir_, port, target); !o.ok) {
    out.error = o.error;
  } else {
    out.text = PortName(port) + " now opens " + target;
  }
  (void)Refresh();
  return out;
}

Browser::Result Browser::Unmap(const std::vector<uint8_t>& ports) {
  Result out;
  for (const uint8_t port : ports) {
    const PortRow* row = FindPort(port);
    if (!row || !row->mapped) continue;
    if (const Outcome o = ports::Unmap(dir_, port); !o.ok) {
      out.error += (out.error.empty() ? "" : "\n") + o.error;
      continue;
    }
    out.text += (out.text.empty() ? "" : "; ") + PortName(port) + " opens " + DeviceOf(dir_, port) +
                " again";
  }
  (void)Refresh();
  return out;
}

}  // namespace ports
