// The lost port's wake-up: what in a watched folder counts as a change, and which folders a route
// watches.
#include "serial/change_watch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "serial/port_route.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using serial::PortRoute;

// Events are queued by the call that made them, so readiness needs no waiting.
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

TEST(ChangeWatch, WhatCountsAsAChange) {
  struct Case {
    const char* what;
    std::function<void(const fs::path&)> act;
    bool changed;
  };
  const auto touch = [](const fs::path& p) { std::ofstream(p) << "x"; };
  const Case cases[] = {
      {"link made", [](const fs::path& d) { fs::create_symlink("/dev/pts/9", d / "COM3"); }, true},
      {"link removed", [](const fs::path& d) { fs::remove(d / "COM1"); }, true},
      {"link replaced by a rename",
       [](const fs::path& d) {
         fs::create_symlink("/dev/pts/9", d.parent_path() / "COM1.new");
         fs::rename(d.parent_path() / "COM1.new", d / "COM1");
       },
       true},
      {"link renamed away", [](const fs::path& d) { fs::rename(d / "COM1", d / "COM2"); }, true},
      {"permissions changed",
       [](const fs::path& d) { fs::permissions(d / "notes", fs::perms::owner_read); }, true},
      {"a file's contents written", [&](const fs::path& d) { touch(d / "notes"); }, false},
      {"a file read", [](const fs::path& d) { std::ifstream(d / "notes").get(); }, false},
      {"a link followed", [](const fs::path& d) { (void)fs::exists(d / "COM1"); }, false},
      {"beside the folder", [&](const fs::path& d) { touch(d.parent_path() / "other"); }, false},
  };
  for (const Case& c : cases) {
    testsupport::TempFolder tmp;
    const fs::path ports = tmp.path / "ports";
    fs::create_directory(ports);
    fs::create_symlink(tmp.path / "notes", ports / "COM1");
    touch(ports / "notes");
    serial::ChangeWatch watch({ports});
    ASSERT_GE(watch.Fd(), 0);
    EXPECT_FALSE(Readable(watch.Fd())) << c.what;
    EXPECT_FALSE(watch.TakeChanged()) << c.what;
    c.act(ports);
    EXPECT_EQ(Readable(watch.Fd()), c.changed) << c.what;
    EXPECT_EQ(watch.TakeChanged(), c.changed) << c.what;
    EXPECT_FALSE(watch.TakeChanged()) << c.what;  // taken once
    EXPECT_FALSE(Readable(watch.Fd())) << c.what;
  }
}

// A ports folder made after the loss is watched from then on.
TEST(ChangeWatch, AFolderThatAppearsLaterIsWatched) {
  testsupport::TempFolder tmp;
  const fs::path ports = tmp.path / "config" / "ports";
  serial::ChangeWatch watch({ports});
  fs::create_directories(ports);
  EXPECT_TRUE(watch.TakeChanged());
  fs::create_symlink("/dev/pts/9", ports / "COM1");
  EXPECT_TRUE(Readable(watch.Fd()));
  EXPECT_TRUE(watch.TakeChanged());

  // Removed and made again: still watched.
  fs::remove_all(ports);
  EXPECT_TRUE(watch.TakeChanged());
  fs::create_directories(ports);
  EXPECT_TRUE(watch.TakeChanged());
  fs::create_symlink("/dev/pts/9", ports / "COM2");
  EXPECT_TRUE(watch.TakeChanged());
}

TEST(ChangeWatch, FoldersARouteWatches) {
  struct Case {
    PortRoute route;
    std::vector<fs::path> folders;
  };
  using Via = PortRoute::Via;
  const Case cases[] = {
      {{Via::kLink, 1, "/c/ports/COM1", "/dev/pts/3"}, {"/c/ports", "/dev", "/dev/pts"}},
      {{Via::kLink, 1, "/c/ports/COM1", "/dev/serial/by-id/usb-x"},
       {"/c/ports", "/dev", "/dev/serial/by-id"}},
      {{Via::kLink, 1, "/c/ports/COM1", ""}, {"/c/ports", "/dev"}},
      {{Via::kBuiltIn, 1, "/dev/ttyS0", ""}, {"/dev"}},
  };
  for (const Case& c : cases) EXPECT_EQ(serial::WatchFolders(c.route), c.folders);
}

TEST(ChangeWatch, LinkTargetsAreMadeAbsolute) {
  testsupport::TempFolder tmp;
  fs::create_symlink("/dev/pts/4", tmp.path / "COM1");
  fs::create_symlink("../dev/./ttyUSB0", tmp.path / "COM2");
  std::ofstream(tmp.path / "COM3") << "not a link";
  EXPECT_EQ(serial::LinkTarget((tmp.path / "COM1").string()), "/dev/pts/4");
  EXPECT_EQ(serial::LinkTarget((tmp.path / "COM2").string()),
            (tmp.path.parent_path() / "dev" / "ttyUSB0").string());
  EXPECT_EQ(serial::LinkTarget((tmp.path / "COM3").string()), "");
  EXPECT_EQ(serial::LinkTarget((tmp.path / "COM4").string()), "");
}

}  // namespace
