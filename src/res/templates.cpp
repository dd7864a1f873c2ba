#include "res/templates.h"

#include <array>

#include "res/resource.h"
#include "res/version.h"

namespace res {
namespace {

constexpr uint32_t kListStyle =
    kBorder | kVScroll | kNoSel | kNoIntegralHeight | kNotify | kTabStop;

constexpr std::array kConsoleControls = {
    Control{IDC_PORT_COMBO, Kind::ComboBox, "", 21, 26, 48, 36, kDropDown | kVScroll | kTabStop,
            "Port"},
    Control{IDC_PORT_OPEN, Kind::PushButton, "OPEN", 76, 25, 50, 14, kTabStop, ""},
    Control{IDC_PORT_CLOSE, Kind::PushButton, "CLOSE", 133, 25, 50, 14, kTabStop, ""},
    Control{IDC_PORT_STATUS, Kind::Static, "Static", 98, 45, 64, 8, kCenter | kCenterImage | kGroup,
            "Port status"},
    Control{IDC_STATIC, Kind::GroupBox, "Communication Port", 13, 13, 178, 46, 0, ""},
    Control{IDC_INFLATE, Kind::Edit, "", 28, 84, 40, 14,
            kBorder | kCenter | kAutoHScroll | kTabStop, "Initial inflate"},
    Control{IDC_INFLATE_SPIN, Kind::UpDown, "Spin1", 69, 84, 10, 14,
            kAutoBuddy | kSetBuddyInt | kArrowKeys | kWrap, "Initial inflate step"},
    Control{IDC_SET_PRESSURE, Kind::PushButton, "Set Pressure", 28, 101, 50, 14, kTabStop, ""},
    Control{IDC_STATIC, Kind::GroupBox, "Initial Inflate", 20, 72, 66, 48, kCaptionCenter, ""},
    Control{IDC_START_ADULT, Kind::PushButton, "Start Adult", 28, 126, 50, 14, kTabStop, ""},
    Control{IDC_START_NEONATE, Kind::PushButton, "Start Neonate", 28, 144, 50, 14, kTabStop, ""},
    Control{IDC_START_PEDIATRIC, Kind::PushButton, "Start Pediatric", 28, 162, 50, 14, kTabStop,
            ""},
    Control{IDC_ABORT_BP, Kind::PushButton, "Abort BP", 28, 180, 50, 14, kTabStop, ""},
    Control{IDC_GET_PRESSURE, Kind::PushButton, "Get Pressure", 28, 198, 50, 14, kTabStop, ""},
    Control{IDC_GET_BP_DATA, Kind::PushButton, "Get BP Data", 28, 217, 50, 14, kTabStop, ""},
    Control{IDC_AUTO_PRESSURE, Kind::CheckBox, "Auto Pressure Display", 103, 74, 85, 10,
            kAutoCheck | kTabStop, ""},
    Control{IDC_PRESSURE, Kind::Static, "Static", 104, 91, 78, 8, kGroup, "Cuff pressure"},
    Control{IDC_STATIC, Kind::GroupBox, "", 97, 60, 94, 48, 0, "Pressure display"},
    Control{IDC_STATIC, Kind::GroupBox, "", 13, 60, 80, 181, 0, "Commands"},
    Control{IDC_PUMP, Kind::CheckBox, "Pump", 104, 135, 35, 10, kAutoCheck | kTabStop, ""},
    Control{IDC_CONTROL_VALVE, Kind::CheckBox, "Control Valve", 104, 152, 59, 10,
            kAutoCheck | kTabStop, ""},
    Control{IDC_DUMP_VALVE, Kind::CheckBox, "Dump Valve", 104, 169, 55, 10, kAutoCheck | kTabStop,
            ""},
    Control{IDC_STATIC, Kind::GroupBox, "Pneumatics control", 97, 119, 94, 69, 0, ""},
    // The logs grow with the window: the raw log below, the event log above the middle.
    Control{IDC_LIST_RAW, Kind::ListBox, "", 13, 246, 464, 105,
            kListStyle | kSizeX | kSizeLowerHalf, "Raw log"},
    Control{IDC_LIST_EVENT, Kind::ListBox, "", 198, 8, 278, 233,
            kListStyle | kSizeX | kSizeUpperHalf, "Event log"},
    Control{IDC_CLEAR_DISPLAY, Kind::PushButton, "Clear Display", 118, 209, 50, 14, kTabStop, ""},
    Control{IDC_RX_HEX, Kind::Static, "Static", 14, 224, 397, 8, kHidden, "Received bytes"},
    Control{IDC_RX_CHECK, Kind::Static, "Static", 14, 233, 400, 8, kHidden, "Last frame check"},
};

constexpr std::array kConsoleItems = {
    ComboItem{IDC_PORT_COMBO, "SELECT PORT"}, ComboItem{IDC_PORT_COMBO, "COM1"},
    ComboItem{IDC_PORT_COMBO, "COM2"},        ComboItem{IDC_PORT_COMBO, "COM3"},
    ComboItem{IDC_PORT_COMBO, "COM4"},        ComboItem{IDC_PORT_COMBO, "COM5"},
    ComboItem{IDC_PORT_COMBO, "COM6"},        ComboItem{IDC_PORT_COMBO, "COM7"},
    ComboItem{IDC_PORT_COMBO, "COM8"},        ComboItem{IDC_PORT_COMBO, "COM9"},
    ComboItem{IDC_PORT_COMBO, "COM10"},
};

constexpr std::array kAboutControls = {
    Control{IDC_STATIC, Kind::Icon, "", 11, 17, 20, 20, 0, "QUIRAB_NIBP icon"},
    Control{IDC_STATIC, Kind::Static, "QUIRAB_NIBP 버전 1.0", 40, 10, 119, 8, 0, ""},
    Control{IDC_STATIC, Kind::Static, "NIBP 모듈 시험 콘솔", 40, 25, 119, 8, 0, ""},
    Control{IDOK, Kind::DefPushButton, "확인", 178, 7, 50, 14, kTabStop | kGroup, ""},
};

constexpr std::string_view kGulim = "굴림";

constexpr DialogTemplate kDialogs[] = {
    {IDD_QUIRAB_NIBP_DIALOG, "QUIRAB_NIBP", 0, 0, 491, 365, kGulim, 9,
     kCaption | kSysMenu | kModalFrame | kAppWindow | kResizable, kConsoleControls, kConsoleItems},
    {IDD_ABOUTBOX,
     "QUIRAB_NIBP 정보",
     0,
     0,
     235,
     55,
     kGulim,
     9,
     kCaption | kSysMenu | kModalFrame,
     kAboutControls,
     {}},
};

// Icon: a cuff-pressure gauge. Palette index per pixel; 0 is transparent.
constexpr std::array<uint32_t, 16> kPalette = {
    0x00000000, 0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080, 0xFF008080,
    0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00, 0xFF0000FF, 0xFFFF00FF, 0xFFFFFFFF,
};

constexpr std::array<std::string_view, 32> kIcon32 = {
    "00000000000111111111100000000000", "00000000111FFFFFFFFFF11100000000",
    "000000111FFFFFFFFFFFFFF111000000", "0000011FFFF1FFFFFFFF1FFFFF110000",
    "00001FFFFFFFFFF11FFFFFFFFFFF1000", "0001FFFFFFFFFFF11FFFFFFFFFFFF100",
    "001FFFF1FFFFFFFFFFFFFFFFF1FFFF10", "001FFFFFFFFFFFFFFFFFFFFFFFFFFF10",
    "01FFFFFFFFFFFFFFFFFFFFFFFFAFFFF1", "01FFFFFFFFFFFFFFFFFFFFFFFAFFFFF1",
    "01FF1FFFFFFFFFFFFFFFFFFAAFFF1FF1", "1FFFFFFFFFFFFFFFFFFFFFAAFFFFFFF1",
    "1FFFFFFFFFFFFFFFFFFFFAAFFFFFFFF1", "1FFFFFFFFFFFFFFFFFFFAAFFFFFFFFF1",
    "1F11FFFFFFFFFFFFFFAAFFFFFFFF11F1", "1FFFFFFFFFFFFF111AAFFFFFFFFFFFF1",
    "1FFFFFFFFFFFFF1111FFFFFFFFFFFFF1", "1FFFFFFFFFFFFF1111FFFFFFFFFFFFF1",
    "1FFFFFFFFFFFFFF11FFFFFFFFFFFFFF1", "01FFFFFFFFFFFFFFFFFFFFFFFFFFFF10",
    "01FFFFFFFFFFFFFFFFFFFFFFFFFFFF10", "01FFFFFFFF999999999999FFFFFFFF10",
    "001FFFFFFF9DDDDDDDDDD9FFFFFFF100", "001FFFFFFF9DDDDDDDDDD9FFFFFFF100",
    "0001FFFFFF999999999999FFFFFF1000", "00001FFFFFFFFFFFFFFFFFFFFFF10000",
    "000001FFFFFFFFFFFFFFFFFFFF100000", "0000001111FFFFFFFFFFFF1111000000",
    "00000000001111111111110000000000", "00000000000000077000000000000000",
    "00000000000000077000000000000000", "00000000000007777770000000000000",
};

constexpr std::array<std::string_view, 16> kIcon16 = {
    "0000011111100000", "00011FFFFFF11000", "001FFFFFFFFFF100", "01FFFFFFFFFAFF10",
    "01FFFFFFFFAFFF10", "1FFFFFFFFAFFFFF1", "1FFFFFFFAFFFFFF1", "1FFFFFF11FFFFFF1",
    "1FFFFFF11FFFFFF1", "1FFFFFFFFFFFFFF1", "01FFF999999FFF10", "01FFF9DDDD9FFF10",
    "001FF999999FF100", "00011FFFFFF11000", "0000011771100000", "0000000770000000",
};

constexpr std::array kIconImages = {
    IconImage{32, kIcon32},
    IconImage{16, kIcon16},
};

constexpr IconResource kIcons[] = {{IDR_MAINFRAME, kPalette, kIconImages}};

struct StringEntry {
  int id;
  std::string_view text;
};
constexpr StringEntry kStrings[] = {{IDS_ABOUTBOX, "QUIRAB_NIBP 정보(&A)..."}};

constexpr VersionInfo kVersion = {
    {kVersionNumbers[0], kVersionNumbers[1], kVersionNumbers[2], kVersionNumbers[3]},
    {kVersionNumbers[0], kVersionNumbers[1], kVersionNumbers[2], kVersionNumbers[3]},
    "QUIRAB_NIBP",
    "QUIRAB_NIBP",
    "QUIRAB_NIBP",
    "NIBP module test console",
};

}  // namespace

const DialogTemplate* FindDialog(int id) {
  for (const auto& d : kDialogs) {
    if (d.id == id) return &d;
  }
  return nullptr;
}

const IconResource* FindIcon(int id) {
  for (const auto& i : kIcons) {
    if (i.id == id) return &i;
  }
  return nullptr;
}

std::string_view LoadString(int id) {
  for (const auto& s : kStrings) {
    if (s.id == id) return s.text;
  }
  return {};
}

const VersionInfo& Version() {
  return kVersion;
}

}  // namespace res
