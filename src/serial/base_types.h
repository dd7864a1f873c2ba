#pragma once
// The few types and message numbers that the serial link and the window framework share; defined
// here once, at the lower layer.

#include <cstdint>

using BOOL = int;

inline constexpr uint32_t WM_USER = 0x0400;
// Sent by the reader thread after each block it put in the receive ring; wParam the port number.
inline constexpr uint32_t WM_COMM_RECEIVE = WM_USER + 1;
// Sent by the reader thread once when the device went away; wParam the port number.
inline constexpr uint32_t WM_COMM_LOST = WM_USER + 2;
