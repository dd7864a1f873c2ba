// The device source of a real machine: libudev's enumeration of the tty subsystem and its
// hot-plug monitor.

#include <fcntl.h>
#include <libudev.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>

#include "ports/ports.h"

namespace ports {

namespace {

namespace fs = std::filesystem;

struct UdevUnref {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevUnref>;

std::string Attr(udev_device* d, const char* name) {
  const char* v = d ? udev_device_get_sysattr_value(d, name) : nullptr;
  std::string s = v ? v : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

std::string Property(udev_device* d, const char* name) {
  const char* v = d ? udev_device_get_property_value(d, name) : nullptr;
  return v ? v : "";
}

// udev's own links first; without its database (no daemon), what /dev/serial/by-id holds.
std::string ByIdName(udev_device* d, const std::string& node) {
  constexpr std::string_view kById = "/dev/serial/by-id/";
  for (udev_list_entry* e = udev_device_get_devlinks_list_entry(d); e;
       e = udev_list_entry_get_next(e)) {
    const std::string_view link = udev_list_entry_get_name(e);
    if (link.substr(0, kById.size()) == kById) return std::string(link);
  }
  std::error_code ec;
  for (fs::directory_iterator it(fs::path(kById), ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ignored;
    if (fs::weakly_canonical(it->path(), ignored) == fs::path(node)) return it->path().string();
  }
  return {};
}

class UdevSource final : public DeviceSource {
 public:
  UdevSource() : udev_(udev_new()) {
    // Events come from the daemon once it has made the nodes and links; without it none come.
    std::error_code ec;
    if (!udev_ || !fs::exists("/run/udev/control", ec)) return;
    monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), "udev"));
    if (monitor_ &&
        (udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), "tty", nullptr) < 0 ||
         udev_monitor_enable_receiving(monitor_.get()) < 0)) {
      monitor_.reset();
      return;
    }
    const int fd = udev_monitor_get_fd(monitor_.get());
    if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) < 0) monitor_.reset();
  }

  std::vector<Device> Enumerate() override {
    std::vector<Device> out;
    if (!udev_) return out;
    UdevPtr<udev_enumerate> en(udev_enumerate_new(udev_.get()));
    if (!en || udev_enumerate_add_match_subsystem(en.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(en.get()) < 0) {
      return out;
    }
    for (udev_list_entry* e = udev_enumerate_get_list_entry(en.get()); e;
         e = udev_list_entry_get_next(e)) {
      UdevPtr<udev_device> dev(
          udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(e)));
      if (auto d = FromUdev(dev.get())) out.push_back(std::move(*d));
    }
    return out;
  }

  bool TakeChanges() override {
    if (!monitor_) return true;
    bool any = false;
    // The monitor's socket does not block: receive returns null once it is drained.
    while (UdevPtr<udev_device> dev{udev_monitor_receive_device(monitor_.get())}) any = true;
    return any;
  }

 private:
  static std::optional<Device> FromUdev(udev_device* dev) {
    const char* node = dev ? udev_device_get_devnode(dev) : nullptr;
    // Consoles, ptmx and the like have no parent device: they are no serial ports.
    if (!node || !udev_device_get_parent(dev)) return std::nullopt;
    // A UART driver's port with no chip behind it says type 0.
    if (const std::string type = Attr(dev, "type"); type == "0") return std::nullopt;
    Device d;
    d.node = node;
    if (udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device")) {
      d.kind = DeviceKind::kUsb;
      d.vendor = Attr(usb, "manufacturer");
      d.product = Attr(usb, "product");
      d.serial = Attr(usb, "serial");
      d.vendorId = Attr(usb, "idVendor");
      d.productId = Attr(usb, "idProduct");
      if (d.vendor.empty()) d.vendor = Property(dev, "ID_VENDOR_FROM_DATABASE");
      if (d.product.empty()) d.product = Property(dev, "ID_MODEL_FROM_DATABASE");
    }
    d.byId = ByIdName(dev, d.node);
    return d;
  }

  UdevPtr<udev> udev_;
  UdevPtr<udev_monitor> monitor_;
};

}  // namespace

std::unique_ptr<DeviceSource> MakeUdevSource() {
  return std::make_unique<UdevSource>();
}

}  // namespace ports
