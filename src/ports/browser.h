#pragma once
// What the Ports window shows and does, without a window: the snapshot it follows, the cells of
// its two tables, and Map and Unmap on the rows the user selected. Rows are named by port number
// and device node, not by position, so that a sorted table selects what it shows.

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ports/ports.h"

namespace ports {

inline constexpr std::array<std::string_view, 4> kPortColumns = {"Port", "Device", "Present",
                                                                 "Access"};
inline constexpr std::array<std::string_view, 4> kDeviceColumns = {"Device", "Description",
                                                                   "By-id name", "Access"};
using Cells = std::array<std::string, 4>;

// "COM1", "/dev/ttyS0", "yes", "yes"; Access is the fix when the node is there but not usable,
// empty when it is not there.
[[nodiscard]] Cells PortCells(const PortRow& row);
// "/dev/ttyUSB0", "USB, Example USB Serial [1234:5678], serial SN0001, as COM3", the by-id
// file name, and Access as for ports.
[[nodiscard]] Cells DeviceCells(const DeviceRow& row);

class Browser {
 public:
  Browser(std::unique_ptr<DeviceSource> source, std::filesystem::path dir);

  // Enumerates again only when devices came or went, and builds the snapshot anew each time
  // (links and pseudo-terminals change without udev hearing of it). True when it differs from
  // the one shown before; always true the first time.
  bool Refresh();
  [[nodiscard]] const Snapshot& Shown() const { return shown_; }

  // Map needs exactly one port and one device; Unmap a mapped port among those selected.
  [[nodiscard]] bool CanMap(const std::vector<uint8_t>& ports,
                            const std::vector<std::string>& nodes) const;
  [[nodiscard]] bool CanUnmap(const std::vector<uint8_t>& ports) const;

  struct Result {
    std::string text;   // for the result line: "COM3 now opens /dev/serial/by-id/..."
    std::string error;  // for a message box; empty when all went well
  };
  // Links the port to the device, by its by-id name when it has one.
  [[nodiscard]] Result Map(uint8_t port, const std::string& node);
  // Unmaps every mapped port of `ports`: "COM3 opens /dev/ttyS2 again", one per port, "; " apart.
  [[nodiscard]] Result Unmap(const std::vector<uint8_t>& ports);

 private:
  [[nodiscard]] const PortRow* FindPort(uint8_t port) const;
  [[nodiscard]] const DeviceRow* FindDevice(const std::string& node) const;

  std::unique_ptr<DeviceSource> source_;
  std::filesystem::path dir_;
  std::vector<Device> found_;
  Snapshot shown_;
  bool shownOnce_ = false;
};

}  // namespace ports
