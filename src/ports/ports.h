#pragma once
// The serial devices of this machine and the mapping of port names COM1..COM255 to them: the
// table of ports, the device list, Map and Unmap, and their renderings as text and JSON. No
// window system here; the device source is an interface so that tests can feed devices.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ports {

enum class DeviceKind { kUsb, kOnBoard, kPseudoTerminal };

struct Device {
  std::string node;  // "/dev/ttyUSB0"
  DeviceKind kind = DeviceKind::kOnBoard;
  // USB adapters: as the adapter reports itself; empty when it does not.
  std::string vendor;
  std::string product;
  std::string serial;
  std::string vendorId;   // "1234"
  std::string productId;  // "5678"
  std::string byId;       // "/dev/serial/by-id/usb-..."; empty when there is none
  bool operator==(const Device&) const = default;
};

// What a path on this machine is to this user.
struct NodeState {
  bool exists = false;
  bool access = false;  // readable and writable by this user
  std::string group;    // the group owning the node
  bool operator==(const NodeState&) const = default;
};

// stat(2) and access(2) on the path, links followed.
[[nodiscard]] NodeState ProbeNode(const std::string& path);

class DeviceSource {
 public:
  virtual ~DeviceSource() = default;
  // The serial devices present now; pseudo-terminals are not among them.
  [[nodiscard]] virtual std::vector<Device> Enumerate() = 0;
  // True when devices may have come or gone since the last call. Never blocks.
  [[nodiscard]] virtual bool TakeChanges() = 0;
  [[nodiscard]] virtual NodeState Probe(const std::string& path) const { return ProbeNode(path); }
};

// libudev: enumeration and hot-plug events. Where udev has no event daemon (containers), every
// TakeChanges says yes, so callers enumerate again; with no devices at all the list is empty.
[[nodiscard]] std::unique_ptr<DeviceSource> MakeUdevSource();

inline constexpr int kFixedPorts = 10;  // COM1..COM10 are always in the table

struct PortRow {
  uint8_t port = 0;
  std::string device;   // what an OPEN of this port opens
  bool mapped = false;  // through a link in the ports folder
  NodeState state;
  bool operator==(const PortRow&) const = default;
};

struct DeviceRow {
  Device device;
  NodeState state;
  std::vector<uint8_t> mappedAs;  // ports whose link names this device
  bool operator==(const DeviceRow&) const = default;
};

struct Snapshot {
  std::vector<PortRow> ports;
  std::vector<DeviceRow> devices;
  bool operator==(const Snapshot&) const = default;
};

[[nodiscard]] std::string PortName(uint8_t port);  // "COM3"

// The device port `port` opens with the ports folder `dir`: the link's target (as written,
// relative ones taken from `dir`), or /dev/ttyS(port-1) when there is no link.
[[nodiscard]] std::string DeviceOf(const std::filesystem::path& dir, uint8_t port,
                                   bool* mapped = nullptr);

// COM1..COM10 and every other mapped port, each with its device and its state; the devices
// found, USB first, then on-board ports, then pseudo-terminals that a mapping names.
[[nodiscard]] Snapshot BuildSnapshot(const std::vector<Device>& found, const DeviceSource& probe,
                                     const std::filesystem::path& dir);

// "no access: add your user to the group dialout"; empty when the node is missing or usable.
[[nodiscard]] std::string AccessFix(const NodeState& state);
// "present", "not present" or the access fix.
[[nodiscard]] std::string StateText(const NodeState& state);
[[nodiscard]] std::string KindText(DeviceKind kind);  // "USB", "on-board", "pseudo-terminal"
// "Example USB Serial [1234:5678], serial SN0001": what the adapter says of itself.
[[nodiscard]] std::string Identity(const Device& d);
// "as COM3,COM4"; empty when no port names the device.
[[nodiscard]] std::string MappedText(const std::vector<uint8_t>& ports);

// One line per row, columns padded to line up; what the dialog lists and the command line prints.
[[nodiscard]] std::vector<std::string> PortLines(const Snapshot& s);
[[nodiscard]] std::vector<std::string> DeviceLines(const Snapshot& s);
// Both lists under headings, as `nibp-cli ports` prints them.
[[nodiscard]] std::string RenderText(const Snapshot& s);
// One JSON object: {"ports":[...],"devices":[...]}, ending in a newline.
[[nodiscard]] std::string RenderJson(const Snapshot& s);

// Where the port box's text leads: "COM3 opens /dev/ttyS2", with ", not present now" when the
// device is missing; a hint when the text names no port.
[[nodiscard]] std::string PortTip(const std::filesystem::path& dir, std::string_view text);

// The name a mapping should use for `path`: the device's /dev/serial/by-id name when it has one,
// so the mapping survives replugging; `path` itself otherwise.
[[nodiscard]] std::string PreferredTarget(const std::vector<Device>& found,
                                          const std::string& path);

struct Outcome {
  bool ok = true;
  std::string error;  // one line naming the port or the path and the reason
};

// Links `dir`/COMn to `target` (made absolute from the current folder), replacing an earlier link
// at once: the link is made under a temporary name in `dir` and renamed over the old one. Creates
// `dir` (0700) when missing. Anything at COMn that is not a link is left alone, as an error.
[[nodiscard]] Outcome Map(const std::filesystem::path& dir, uint8_t port,
                          const std::string& target);
// Removes the link, so that the port opens /dev/ttyS(n-1) again; an unmapped port is left as is,
// and anything there that is not a link too, as an error.
[[nodiscard]] Outcome Unmap(const std::filesystem::path& dir, uint8_t port);

// The command line's `map NAME DEVICE` and `unmap NAME`: the name as typed ("com3" too), and the
// device's by-id name preferred.
[[nodiscard]] Outcome MapName(const std::filesystem::path& dir, std::string_view name,
                              const std::string& device, const std::vector<Device>& found);
[[nodiscard]] Outcome UnmapName(const std::filesystem::path& dir, std::string_view name);

}  // namespace ports
