#pragma once
// Dialog templates, strings, icon and version information as plain data that every window
// backend builds from.

#include <cstdint>
#include <span>
#include <string_view>

namespace res {

enum class Kind {
  ComboBox,
  PushButton,
  DefPushButton,
  Static,
  GroupBox,
  Edit,
  UpDown,
  CheckBox,
  ListBox,
  Icon
};

// Style bits, named after what they do rather than after any platform's constants.
enum Style : uint32_t {
  kHidden = 1u << 0,
  kDisabled = 1u << 1,
  kTabStop = 1u << 2,
  kGroup = 1u << 3,
  kBorder = 1u << 4,
  kVScroll = 1u << 5,
  kCenter = 1u << 6,       // text centred horizontally
  kCenterImage = 1u << 7,  // text centred vertically
  kAutoHScroll = 1u << 8,
  kDropDown = 1u << 9,  // combo with an edit field
  kSort = 1u << 10,
  kNoSel = 1u << 11,  // list lines are never highlighted
  kNoIntegralHeight = 1u << 12,
  kNotify = 1u << 13,
  kAutoBuddy = 1u << 14,    // up-down takes the preceding control as its buddy
  kSetBuddyInt = 1u << 15,  // up-down writes its position into the buddy as a decimal number
  kArrowKeys = 1u << 16,
  kWrap = 1u << 17,
  kAutoCheck = 1u << 18,      // check box toggles itself
  kCaptionCenter = 1u << 19,  // group box caption centred
  // In a resizable window: the width takes all the extra width; the height takes the upper half
  // of the extra height, or the control moves down by that half and takes the lower one.
  kSizeX = 1u << 20,
  kSizeUpperHalf = 1u << 21,
  kSizeLowerHalf = 1u << 22,
};

struct Control {
  int id;
  Kind kind;
  std::string_view caption;
  int x, y, w, h;  // dialog units
  uint32_t style;
  std::string_view accessibleName;  // for controls whose caption does not name them
};

enum WindowStyle : uint32_t {
  kCaption = 1u << 0,
  kSysMenu = 1u << 1,
  kModalFrame = 1u << 2,
  kAppWindow = 1u << 3,  // shown in the task bar
  kResizable = 1u << 4,  // no smaller than the template; controls follow their kSize* bits
};

struct ComboItem {
  int controlId;
  std::string_view text;
};

struct DialogTemplate {
  int id;
  std::string_view title;
  int x, y, w, h;  // dialog units; position 0,0 centres the window
  std::string_view fontName;
  int fontPoints;
  uint32_t style;
  std::span<const Control> controls;     // template order is tab order
  std::span<const ComboItem> initItems;  // added in this order when the window is created
};

// 16-colour icon image: one palette index (hex digit) per pixel, rows top to bottom.
struct IconImage {
  int size;
  std::span<const std::string_view> rows;
};

struct IconResource {
  int id;
  std::span<const uint32_t> palette;  // 0xAARRGGBB, 16 entries
  std::span<const IconImage> images;  // largest first
};

struct VersionInfo {
  uint16_t fileVersion[4];
  uint16_t productVersion[4];
  std::string_view internalName;
  std::string_view originalFilename;
  std::string_view productName;
  std::string_view fileDescription;
};

// Null when no resource has this id.
[[nodiscard]] const DialogTemplate* FindDialog(int id);
[[nodiscard]] const IconResource* FindIcon(int id);
// Empty when no string has this id.
[[nodiscard]] std::string_view LoadString(int id);
[[nodiscard]] const VersionInfo& Version();

}  // namespace res
