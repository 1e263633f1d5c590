// Window message codes, virtual-key codes and mouse-key flags. They keep their
// Win32 names and values so that every window backend speaks the same language.
#pragma once
#include <cstdint>

namespace tk {

// clang-format off
inline constexpr uint32_t WM_CREATE      = 0x0001;
inline constexpr uint32_t WM_DESTROY     = 0x0002;
inline constexpr uint32_t WM_SIZE        = 0x0005;
inline constexpr uint32_t WM_PAINT       = 0x000F;
inline constexpr uint32_t WM_CLOSE       = 0x0010;
inline constexpr uint32_t WM_QUIT        = 0x0012;
inline constexpr uint32_t WM_SETTEXT     = 0x000C;
inline constexpr uint32_t WM_KEYDOWN     = 0x0100;
inline constexpr uint32_t WM_KEYUP       = 0x0101;
inline constexpr uint32_t WM_CHAR        = 0x0102;
inline constexpr uint32_t WM_SYSKEYDOWN  = 0x0104;
inline constexpr uint32_t WM_SYSKEYUP    = 0x0105;
inline constexpr uint32_t WM_MOUSEMOVE   = 0x0200;
inline constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
inline constexpr uint32_t WM_LBUTTONUP   = 0x0202;
inline constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
inline constexpr uint32_t WM_RBUTTONUP   = 0x0205;
inline constexpr uint32_t WM_MOUSEWHEEL  = 0x020A;
inline constexpr uint32_t WM_USER        = 0x0400;

inline constexpr uint32_t MK_LBUTTON = 0x0001;   // wParam of mouse messages: left button down
inline constexpr uint32_t MK_RBUTTON = 0x0002;   // right button down
inline constexpr uint32_t MK_SHIFT   = 0x0004;
inline constexpr uint32_t MK_CONTROL = 0x0008;

inline constexpr uint32_t VK_BACK    = 8;
inline constexpr uint32_t VK_TAB     = 9;
inline constexpr uint32_t VK_RETURN  = 13;
inline constexpr uint32_t VK_SHIFT   = 16;
inline constexpr uint32_t VK_CONTROL = 17;
inline constexpr uint32_t VK_MENU    = 18;       // Alt
inline constexpr uint32_t VK_ESCAPE  = 27;
inline constexpr uint32_t VK_SPACE   = 32;
inline constexpr uint32_t VK_LEFT    = 37;
inline constexpr uint32_t VK_UP      = 38;
inline constexpr uint32_t VK_RIGHT   = 39;
inline constexpr uint32_t VK_DOWN    = 40;
// clang-format on

// Packs a framebuffer position the way mouse messages carry it in lParam.
constexpr intptr_t make_lparam(uint32_t x, uint32_t y) {
    return static_cast<intptr_t>((y & 0xFFFF) << 16 | (x & 0xFFFF));
}

} // namespace tk
