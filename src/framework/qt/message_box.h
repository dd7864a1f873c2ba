#pragma once
// Modal message boxes in the platform's styles: buttons and icon from the style bits, the
// result as the platform's button id.

#include <string_view>

#include "framework/afx.h"

class QWidget;

namespace fw::qt {

// `owner` may be null: the box is then modal for the whole application.
int ShowMessageBox(QWidget* owner, std::string_view text, std::string_view title, UINT type);

}  // namespace fw::qt
