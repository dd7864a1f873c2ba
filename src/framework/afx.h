#pragma once
// The handful of window-system types and constants the console is written against.

#include <cstdint>
#include <string>

#include "res/resource.h"       // IDOK, IDCANCEL, IDC_STATIC
#include "serial/base_types.h"  // BOOL, WM_USER

using BYTE = uint8_t;
using UINT = unsigned int;
using DWORD = uint32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using UINT_PTR = uintptr_t;
using INT_PTR = intptr_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

namespace fw {
struct Icon;
}
using HICON = const fw::Icon*;
using HCURSOR = const fw::Icon*;

inline constexpr UINT WM_ICONERASEBKGND = 0x0027;

// Notification codes carried with a control id.
inline constexpr UINT BN_CLICKED = 0;
inline constexpr UINT CBN_SELCHANGE = 1;
inline constexpr UINT LBN_SELCHANGE = 1;
inline constexpr UINT CBN_EDITCHANGE = 5;
inline constexpr UINT EN_KILLFOCUS = 0x0200;
inline constexpr UINT UDN_DELTAPOS = static_cast<UINT>(-722);
// A control's tooltip is about to be shown, or its description read: the text may be renewed.
inline constexpr UINT TTN_NEEDTEXT = static_cast<UINT>(-520);

// Message box styles.
inline constexpr UINT MB_OK = 0x0000;
inline constexpr UINT MB_ICONEXCLAMATION = 0x0030;
// The framework's own: the text can be selected with the mouse or the keyboard and copied (a path
// the user may need elsewhere).
inline constexpr UINT MB_TEXTSELECTABLE = 0x10000000;

// Menu flags.
inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_UNCHECKED = 0x0000;
inline constexpr UINT MF_CHECKED = 0x0008;
inline constexpr UINT MF_SEPARATOR = 0x0800;

// System metrics.
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;

// Timer and list results.
inline constexpr int LB_ERR = -1;
inline constexpr int CB_ERR = -1;

struct CRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  [[nodiscard]] int Width() const { return right - left; }
  [[nodiscard]] int Height() const { return bottom - top; }
};

// The up-down notification: the current position and the proposed change.
struct NMUPDOWN {
  int iPos = 0;
  int iDelta = 0;
};
