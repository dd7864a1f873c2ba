#include "ports/ports.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>

#include "files/folders.h"
#include "serial/port_name.h"

namespace ports {

namespace fs = std::filesystem;

namespace {

// Exactly the names an OPEN looks up: "COM", then 1..255 without a leading zero.
std::optional<uint8_t> LinkPort(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || name.substr(0, 3) != "COM" || name[3] == '0') {
    return std::nullopt;
  }
  unsigned n = 0;
  for (const char c : name.substr(3)) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n < 1 || n > 255) return std::nullopt;
  return static_cast<uint8_t>(n);
}

std::map<uint8_t, std::string> Mappings(const fs::path& dir) {
  std::map<uint8_t, std::string> out;
  std::error_code ec;
  if (dir.empty()) return out;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (auto port = LinkPort(it->path().filename().string())) {
      out[*port] = DeviceOf(dir, *port);
    }
  }
  return out;
}

// "ttyS10" after "ttyS9": the digits at the end compare as numbers.
bool NodeLess(const std::string& a, const std::string& b) {
  const auto split = [](const std::string& s) {
    size_t i = s.size();
    while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
    return std::pair(std::string_view(s).substr(0, i), std::string_view(s).substr(i));
  };
  const auto [pa, na] = split(a);
  const auto [pb, nb] = split(b);
  if (pa != pb) return pa < pb;
  if (na.size() != nb.size()) return na.size() < nb.size();
  return na < nb;
}

std::string Canonical(const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::weakly_canonical(path, ec);
  return ec ? path : p.string();
}

// The device of the list that `path` names: its node, its by-id name, or where a link leads.
DeviceRow* FindDevice(std::vector<DeviceRow>& rows, const std::string& path) {
  for (auto& r : rows) {
    if (r.device.node == path || (!r.device.byId.empty() && r.device.byId == path)) return &r;
  }
  const std::string real = Canonical(path);
  for (auto& r : rows) {
    if (r.device.node == real) return &r;
  }
  return nullptr;
}

void Pad(std::string& line, const std::string& cell, size_t width) {
  line += cell;
  if (cell.size() < width) line.append(width - cell.size(), ' ');
}

// Rows of cells to lines: columns two blanks apart, trailing blanks dropped.
std::vector<std::string> Columns(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> width;
  for (const auto& r : rows) {
    width.resize(std::max(width.size(), r.size()));
    for (size_t i = 0; i < r.size(); ++i) width[i] = std::max(width[i], r[i].size());
  }
  std::vector<std::string> out;
  for (const auto& r : rows) {
    std::string line;
    for (size_t i = 0; i < r.size(); ++i) {
      if (i > 0) line += "  ";
      Pad(line, r[i], width[i]);
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out.push_back(std::move(line));
  }
  return out;
}

std::vector<std::vector<std::string>> PortCells(const Snapshot& s) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& r : s.ports) {
    rows.push_back(
        {PortName(r.port), r.device, r.mapped ? "mapped" : "default", StateText(r.state)});
  }
  return rows;
}

std::vector<std::vector<std::string>> DeviceCells(const Snapshot& s) {
  std::vector<std::vector<std::string>> rows;
  for (const auto& r : s.devices) {
    const std::string access = AccessFix(r.state);
    rows.push_back({r.device.node, KindText(r.device.kind), Identity(r.device), r.device.byId,
                    MappedText(r.mappedAs), access});
  }
  return rows;
}

void JsonString(std::string& out, std::string_view s) {
  out += '"';
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += ch;
    }
  }
  out += '"';
}

void JsonField(std::string& out, std::string_view key, std::string_view value, bool first = false) {
  if (!first) out += ',';
  JsonString(out, key);
  out += ':';
  JsonString(out, value);
}

void JsonBool(std::string& out, std::string_view key, bool value) {
  out += ',';
  JsonString(out, key);
  out += value ? ":true" : ":false";
}

void JsonState(std::string& out, const NodeState& st) {
  JsonBool(out, "present", st.exists);
  JsonBool(out, "access", st.exists && st.access);
  JsonField(out, "group", st.group);
  JsonField(out, "state", StateText(st));
}

std::string Reason(const std::error_code& ec) {
  return ec.message();
}

}  // namespace

std::string Identity(const Device& d) {
  std::string s = d.vendor;
  if (!d.product.empty()) s += (s.empty() ? "" : " ") + d.product;
  if (!d.vendorId.empty())
    s += (s.empty() ? "" : " ") + ("[" + d.vendorId + ":" + d.productId + "]");
  if (!d.serial.empty()) s += (s.empty() ? "serial " : ", serial ") + d.serial;
  return s;
}

std::string MappedText(const std::vector<uint8_t>& ports) {
  std::string s;
  for (const uint8_t p : ports) s += (s.empty() ? "" : ",") + PortName(p);
  return s.empty() ? s : "as " + s;
}

NodeState ProbeNode(const std::string& path) {
  NodeState st;
  struct stat sb {};
  if (path.empty() || ::stat(path.c_str(), &sb) != 0) return st;
  st.exists = true;
  st.access = ::access(path.c_str(), R_OK | W_OK) == 0;
  group buf{};
  group* found = nullptr;
  std::vector<char> text(4096);
  if (::getgrgid_r(sb.st_gid, &buf, text.data(), text.size(), &found) == 0 && found != nullptr) {
    st.group = found->gr_name;
  } else {
    st.group = std::to_string(sb.st_gid);
  }
  return st;
}

std::string PortName(uint8_t port) {
  return "COM" + std::to_string(port);
}

std::string DeviceOf(const fs::path& dir, uint8_t port, bool* mapped) {
  std::error_code ec;
  const fs::path link = dir.empty() ? dir : dir / PortName(port);
  const bool isMapped = !dir.empty() && fs::exists(fs::symlink_status(link, ec));
  if (mapped) *mapped = isMapped;
  if (!isMapped && port > 200) return dir.empty() ? std::string() : (dir / "TELNET").string();
  if (!isMapped) return "/dev/ttyS" + std::to_string(port - 1);
  if (!fs::is_symlink(fs::symlink_status(link, ec))) return link.string();
  const fs::path target = fs::read_symlink(link, ec);
  if (ec) return link.string();
  return target.is_absolute() ? target.string() : (dir / target).lexically_normal().string();
}

Snapshot BuildSnapshot(const std::vector<Device>& found, const DeviceSource& probe,
                       const fs::path& dir) {
  Snapshot s;
  for (const auto& d : found) s.devices.push_back({d, probe.Probe(d.node), {}});

  const auto mappings = Mappings(dir);
  // Pseudo-terminals are no devices of udev's: they are listed when a mapping names one.
  for (const auto& [port, target] : mappings) {
    const std::string real = Canonical(target);
    if (real.rfind("/dev/pts/", 0) != 0 || FindDevice(s.devices, real)) continue;
    NodeState st = probe.Probe(real);
    if (!st.exists) continue;
    Device pty;
    pty.node = real;
    pty.kind = DeviceKind::kPseudoTerminal;
    s.devices.push_back({pty, st, {}});
  }
  std::stable_sort(s.devices.begin(), s.devices.end(), [](const DeviceRow& a, const DeviceRow& b) {
    if (a.device.kind != b.device.kind) return a.device.kind < b.device.kind;
    return NodeLess(a.device.node, b.device.node);
  });

  const auto addPort = [&](uint8_t port) {
    PortRow row;
    row.port = port;
    row.device = DeviceOf(dir, port, &row.mapped);
    if (DeviceRow* d = FindDevice(s.devices, row.device)) {
      row.state = d->state;
      if (row.mapped) d->mappedAs.push_back(port);
    } else if (row.device.rfind("/dev/ttyS", 0) != 0) {
      row.state = probe.Probe(row.device);
    }  // a /dev/ttyS node that is no device of the list is no port, whatever the node says
    s.ports.push_back(std::move(row));
  };
  for (int p = 1; p <= kFixedPorts; ++p) addPort(static_cast<uint8_t>(p));
  for (const auto& [port, target] : mappings) {
    if (port > kFixedPorts) addPort(port);
  }
  return s;
}

std::string AccessFix(const NodeState& state) {
  if (!state.exists || state.access) return {};
  return "no access: add your user to the group " + (state.group.empty() ? "dialout" : state.group);
}

std::string StateText(const NodeState& state) {
  if (!state.exists) return "not present";
  return state.access ? "present" : AccessFix(state);
}

std::string KindText(DeviceKind kind) {
  switch (kind) {
    case DeviceKind::kUsb:
      return "USB";
    case DeviceKind::kOnBoard:
      return "on-board";
    case DeviceKind::kPseudoTerminal:
      return "pseudo-terminal";
  }
  return {};
}

std::vector<std::string> PortLines(const Snapshot& s) {
  return Columns(PortCells(s));
}

std::vector<std::string> DeviceLines(const Snapshot& s) {
  return Columns(DeviceCells(s));
}

std::string RenderText(const Snapshot& s) {
  std::string out = "Ports\n";
  auto ports = PortCells(s);
  ports.insert(ports.begin(), {"PORT", "DEVICE", "MAPPING", "STATE"});
  for (const auto& line : Columns(ports)) out += line + '\n';
  out += "\nDevices\n";
  if (s.devices.empty()) {
    out += "(no serial devices found)\n";
    return out;
  }
  auto devices = DeviceCells(s);
  devices.insert(devices.begin(), {"DEVICE", "KIND", "IDENTITY", "BY-ID", "MAPPED", "ACCESS"});
  for (const auto& line : Columns(devices)) out += line + '\n';
  return out;
}

std::string RenderJson(const Snapshot& s) {
  std::string out = "{\"ports\":[";
  for (size_t i = 0; i < s.ports.size(); ++i) {
    const PortRow& r = s.ports[i];
    out += i ? ",{" : "{";
    JsonField(out, "name", PortName(r.port), true);
    JsonField(out, "device", r.device);
    JsonBool(out, "mapped", r.mapped);
    JsonState(out, r.state);
    out += '}';
  }
  out += "],\"devices\":[";
  for (size_t i = 0; i < s.devices.size(); ++i) {
    const DeviceRow& r = s.devices[i];
    const Device& d = r.device;
    out += i ? ",{" : "{";
    JsonField(out, "node", d.node, true);
    JsonField(out, "kind", KindText(d.kind));
    JsonField(out, "vendor", d.vendor);
    JsonField(out, "product", d.product);
    JsonField(out, "serial", d.serial);
    JsonField(out, "vendor_id", d.vendorId);
    JsonField(out, "product_id", d.productId);
    JsonField(out, "by_id", d.byId);
    JsonState(out, r.state);
    out += ",\"mapped_as\":[";
    for (size_t k = 0; k < r.mappedAs.size(); ++k) {
      if (k) out += ',';
      JsonString(out, PortName(r.mappedAs[k]));
    }
    out += "]}";
  }
  out += "]}\n";
  return out;
}

std::string PortTip(const fs::path& dir, std::string_view text) {
  const auto port = serial::ParsePortName(text);
  if (!port) return "Choose a port or type its name, COM1 to COM255";
  const std::string device = DeviceOf(dir, *port);
  std::string tip = PortName(*port) + " opens " + device;
  if (!ProbeNode(device).exists) tip += ", not present now";
  return tip;
}

std::string PreferredTarget(const std::vector<Device>& found, const std::string& path) {
  const std::string real = Canonical(path);
  for (const auto& d : found) {
    if ((d.node == path || d.node == real) && !d.byId.empty()) return d.byId;
  }
  return path;
}

namespace {

// A link stored in the ports folder is read from there: a path typed relative to the current
// folder is made absolute first.
std::string AbsoluteTarget(const std::string& target) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(target, ec);
  return ec ? target : absolute.lexically_normal().string();
}

// Only links are ours to replace or remove: anything else at COMn the user put there.
std::optional<Outcome> NotALink(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return std::nullopt;
  return Outcome{false, path.string() + " is not a link: left alone"};
}

}  // namespace

Outcome Map(const fs::path& dir, uint8_t port, const std::string& given) {
  if (port == 0) return {false, "COM0 is no port: the names are COM1 to COM255"};
  if (dir.empty())
    return {false,
            "no folder for the mapping: neither HOME nor XDG_CONFIG_HOME is an absolute path"};
  if (given.empty()) return {false, PortName(port) + ": no device given"};
  const std::string target = AbsoluteTarget(given);
  if (const auto refused = NotALink(dir / PortName(port))) return *refused;
  if (const std::error_code ec = files::MakeFolders(dir))
    return {false, "cannot create " + dir.string() + ": " + Reason(ec)};
  std::error_code ec;
  // A name no OPEN looks up; the first one free, so concurrent writers never share one.
  fs::path temp;
  for (int k = 0;; ++k) {
    temp =
        dir / ("." + PortName(port) + "." + std::to_string(::getpid()) + "." + std::to_string(k));
    fs::create_symlink(target, temp, ec);
    if (ec != std::errc::file_exists || k == 1000) break;
  }
  if (ec) return {false, "cannot write in " + dir.string() + ": " + Reason(ec)};
  fs::rename(temp, dir / PortName(port), ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    return {false, "cannot write " + (dir / PortName(port)).string() + ": " + Reason(ec)};
  }
  return {};
}

namespace {

std::optional<uint8_t> NameOrError(std::string_view name, Outcome& error) {
  const auto port = serial::ParsePortName(name);
  if (!port) error = {false, "\"" + std::string(name) + "\" is no port name: COM1 to COM255"};
  return port;
}

}  // namespace

Outcome MapName(const fs::path& dir, std::string_view name, const std::string& device,
                const std::vector<Device>& found) {
  Outcome out;
  const auto port = NameOrError(name, out);
  return port ? Map(dir, *port, PreferredTarget(found, AbsoluteTarget(device))) : out;
}

Outcome UnmapName(const fs::path& dir, std::string_view name) {
  Outcome out;
  const auto port = NameOrError(name, out);
  return port ? Unmap(dir, *port) : out;
}

Outcome Unmap(const fs::path& dir, uint8_t port) {
  if (port == 0) return {false, "COM0 is no port: the names are COM1 to COM255"};
  if (dir.empty()) return {};
  std::error_code ec;
  const fs::path link = dir / PortName(port);
  if (!fs::exists(fs::symlink_status(link, ec))) return {};
  if (const auto refused = NotALink(link)) return *refused;
  fs::remove(link, ec);
  if (ec) return {false, "cannot remove " + link.string() + ": " + Reason(ec)};
  return {};
}

}  // namespace ports
