#include "framework/icon.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>

#include "res/templates.h"

namespace fw {

const IconImage& Icon::Best(int size) const {
  const IconImage* best = &images.front();
  for (const auto& img : images) {
    if (std::abs(img.size - size) < std::abs(best->size - size)) best = &img;
  }
  return *best;
}

namespace {

std::unique_ptr<Icon> Decode(const res::IconResource& r) {
  auto icon = std::make_unique<Icon>();
  icon->id = r.id;
  for (const auto& src : r.images) {
    IconImage img;
    img.size = src.size;
    img.argb.reserve(static_cast<size_t>(src.size) * src.size);
    for (const auto& row : src.rows) {
      for (int x = 0; x < src.size; ++x) {
        const char c = x < static_cast<int>(row.size()) ? row[x] : '0';
        const int idx = (c >= '0' && c <= '9')   ? c - '0'
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : 0;
        img.argb.push_back(r.palette[idx]);
      }
    }
    icon->images.push_back(std::move(img));
  }
  return icon;
}

}  // namespace

HICON LoadIcon(int id) {
  // Decoded once and never freed, like a loaded resource.
  static std::mutex mu;
  static std::map<int, std::unique_ptr<Icon>> cache;
  std::lock_guard lock(mu);
  auto it = cache.find(id);
  if (it != cache.end()) return it->second.get();
  const auto* r = res::FindIcon(id);
  if (r == nullptr || r->images.empty()) return nullptr;
  return cache.emplace(id, Decode(*r)).first->second.get();
}

}  // namespace fw
