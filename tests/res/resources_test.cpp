#include <gtest/gtest.h>

#include <set>

#include "framework/icon.h"
#include "res/resource.h"
#include "res/templates.h"

namespace {

TEST(Resources, EveryControlHasAUniqueIdAndLiesInsideItsDialog) {
  for (int id : {IDD_QUIRAB_NIBP_DIALOG, IDD_ABOUTBOX}) {
    const auto* d = res::FindDialog(id);
    ASSERT_NE(d, nullptr);
    std::set<int> ids;
    for (const auto& c : d->controls) {
      SCOPED_TRACE(std::string(c.caption) + " " + std::to_string(c.id));
      if (c.id != IDC_STATIC) {
        EXPECT_TRUE(ids.insert(c.id).second);
      }
      EXPECT_GE(c.x, 0);
      EXPECT_GE(c.y, 0);
      EXPECT_LE(c.x + c.w, d->w);
      // A combo's height includes its dropped list.
      if (c.kind != res::Kind::ComboBox) {
        EXPECT_LE(c.y + c.h, d->h);
      }
      // Every control can be named by assistive technology.
      EXPECT_TRUE(!c.caption.empty() || !c.accessibleName.empty());
    }
  }
  EXPECT_EQ(res::FindDialog(IDD_QUIRAB_NIBP_DIALOG)->controls.size(), 28u);
}

TEST(Resources, TheUpDownFollowsItsBuddyEdit) {
  const auto controls = res::FindDialog(IDD_QUIRAB_NIBP_DIALOG)->controls;
  for (size_t i = 1; i < controls.size(); ++i) {
    if (controls[i].id == IDC_INFLATE_SPIN) {
      EXPECT_EQ(controls[i - 1].id, IDC_INFLATE);
    }
  }
}

TEST(Resources, IconHasTwoSquareImagesOfPaletteIndices) {
  const auto* r = res::FindIcon(IDR_MAINFRAME);
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->palette.size(), 16u);
  ASSERT_EQ(r->images.size(), 2u);
  EXPECT_EQ(r->images[0].size, 32);
  EXPECT_EQ(r->images[1].size, 16);
  for (const auto& img : r->images) {
    ASSERT_EQ(static_cast<int>(img.rows.size()), img.size);
    for (const auto& row : img.rows) {
      EXPECT_EQ(static_cast<int>(row.size()), img.size) << row;
      EXPECT_EQ(row.find_first_not_of("0123456789ABCDEF"), std::string_view::npos) << row;
    }
  }
  HICON icon = fw::LoadIcon(IDR_MAINFRAME);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon, fw::LoadIcon(IDR_MAINFRAME));  // loaded once
  EXPECT_EQ(icon->Best(16).size, 16);
  EXPECT_EQ(icon->Best(48).size, 32);
  EXPECT_EQ(fw::LoadIcon(999), nullptr);
}

TEST(Resources, StringsAndVersion) {
  EXPECT_EQ(res::LoadString(IDS_ABOUTBOX), "QUIRAB_NIBP 정보(&A)...");
  EXPECT_TRUE(res::LoadString(12345).empty());
  const auto& v = res::Version();
  EXPECT_EQ(v.fileVersion[0], 1);
  EXPECT_EQ(v.fileVersion[3], 1);
  EXPECT_EQ(v.internalName, "QUIRAB_NIBP");
}

}  // namespace
