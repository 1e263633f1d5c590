// The Win32 window backend: one top-level window of class "nowindow" whose client
// area is exactly the framebuffer, painted with SetDIBitsToDevice. The window
// procedure brackets every paint with BeginPaint and EndPaint and hands the
// messages the toolkit may use to the toolkit's procedure. Only the window's own
// thread calls SetWindowTextA: a title set from another thread is stored and
// posted to it.
#include <windows.h>

#include <cstring>

#include "platform/window.h"

namespace platform {

namespace {

// Fixed: border, system menu and minimise box (an overlapped window always gets a caption).
constexpr DWORD fixed_style = WS_BORDER | WS_SYSMENU | WS_MINIMIZEBOX;
// Resizable: also a sizing frame and a maximise box.
constexpr DWORD resizable_style = fixed_style | WS_THICKFRAME | WS_MAXIMIZEBOX;
static_assert(fixed_style == 0x008A0000 && resizable_style == 0x008F0000);

constexpr int first_frame_width = 6; // a first guess at the frame, corrected once the window exists
constexpr int first_frame_height = 25;
constexpr UINT message_title = WM_APP; // posted by window_set_title from other threads

struct Win32Window {
    HINSTANCE instance = nullptr;
    HWND window = nullptr;     // from the first message until WM_NCDESTROY; written under lock
    WindowProc proc = nullptr; // the toolkit's window procedure
    DWORD thread = 0;          // the thread that made the window and runs its messages
    HDC paint_dc = nullptr;    // the device context between BeginPaint and EndPaint
    int frame_width = 0;       // pixels the frame adds to the client area's width
    int frame_height = 0;      // and to its height
    MSG message{};             // the message window_get_message took last

    SRWLOCK lock = SRWLOCK_INIT; // guards window (for other threads) and title
    char title[256] = {};        // the latest title asked for
};
Win32Window win;

// The window handle as other threads may read it.
HWND current_window() {
    AcquireSRWLockShared(&win.lock);
    HWND window = win.window;
    ReleaseSRWLockShared(&win.lock);
    return window;
}

void set_window(HWND window) {
    AcquireSRWLockExclusive(&win.lock);
    win.window = window;
    ReleaseSRWLockExclusive(&win.lock);
}

void store_title(const char* title) {
    AcquireSRWLockExclusive(&win.lock);
    lstrcpynA(win.title, title ? title : "", sizeof win.title);
    ReleaseSRWLockExclusive(&win.lock);
}

// Shows the latest stored title. Called on the window's thread only; the lock is not held
// across SetWindowTextA, which sends WM_SETTEXT through the window procedure.
void apply_title() {
    char title[sizeof win.title];
    AcquireSRWLockShared(&win.lock);
    std::memcpy(title, win.title, sizeof title);
    ReleaseSRWLockShared(&win.lock);
    if (win.window) SetWindowTextA(win.window, title);
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    // The first messages arrive while CreateWindowExA is still making the window.
    if (!win.window && message != WM_NCDESTROY) set_window(window);
    switch (message) {
    case WM_PAINT: {
        // Validated here whether or not the toolkit paints, or WM_PAINT would come back at once.
        PAINTSTRUCT paint;
        win.paint_dc = BeginPaint(window, &paint);
        if (win.proc) win.proc(message, wparam, lparam);
        win.paint_dc = nullptr;
        EndPaint(window, &paint);
        return 0;
    }
    case message_title: apply_title(); return 0;
    case WM_SETTEXT:
        // Straight to the system: the toolkit has no use for it, and its procedure answers any
        // message with 0, unseen by the system, while a drawing it has not shown yet is pending
        // (after start-up's drawing, say), which would lose the title.
        return DefWindowProcA(window, message, wparam, lparam);
    case WM_SYSCOMMAND:
        // Alt pressed and released alone moves the toolkit's focus into the button bar; the system
        // would also enter menu mode then and take the next keys (Tab, Space, arrows) for itself.
        // Alt+Space and the mouse still open the system menu.
        if ((wparam & 0xFFF0) == SC_KEYMENU && lparam == 0) return 0;
        break;
    case WM_NCDESTROY: {
        const LRESULT result = DefWindowProcA(window, message, wparam, lparam);
        set_window(nullptr);
        return result;
    }
    default: break;
    }
    return win.proc ? win.proc(message, wparam, lparam) : DefWindowProcA(window, message, wparam, lparam);
}

// Width and height the frame of a window with this style adds to its client area.
void measure_frame(HWND window, DWORD style) {
    RECT outer{}, client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    win.frame_width = (outer.right - outer.left) - (client.right - client.left);
    win.frame_height = (outer.bottom - outer.top) - (client.bottom - client.top);
    // A window that starts minimised (as a shortcut may ask) has no client area to measure;
    // the system then says what the frame of that style is.
    if (IsIconic(window)) {
        RECT frame{0, 0, 0, 0};
        AdjustWindowRectEx(&frame, style, FALSE, 0);
        win.frame_width = frame.right - frame.left;
        win.frame_height = frame.bottom - frame.top;
    }
}

} // namespace

void window_create(WindowProc proc, const char* title, int width, int height, bool resizable) {
    win.proc = proc;
    win.thread = GetCurrentThreadId();
    store_title(title);
    win.instance = GetModuleHandleA(nullptr);

    WNDCLASSA window_class{};
    window_class.style = CS_HREDRAW | CS_VREDRAW; // no CS_DBLCLKS: a double click is two presses
    window_class.lpfnWndProc = window_procedure;
    window_class.hInstance = win.instance;
    window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    window_class.hbrBackground = nullptr; // never erased: every paint covers the whole client area
    window_class.lpszClassName = "nowindow";
    RegisterClassA(&window_class);

    const DWORD style = resizable ? resizable_style : fixed_style;
    HWND window =
        CreateWindowExA(0, "nowindow", title, style, CW_USEDEFAULT, CW_USEDEFAULT, width + first_frame_width,
                        height + first_frame_height, nullptr, nullptr, win.instance, nullptr);
    if (!window) {
        // Without a window the message loop would wait for ever on a program nobody can see.
        char text[96];
        wsprintfA(text, "couldn't open the window (error %lu)", GetLastError());
        MessageBoxA(nullptr, text, "error!?", MB_OK);
        ExitProcess(1);
    }
    set_window(window);
    ShowWindow(window, SW_SHOWNORMAL);

    measure_frame(window, style);
    SetWindowPos(window, nullptr, 0, 0, width + win.frame_width, height + win.frame_height,
                 SWP_NOMOVE | SWP_NOZORDER);
}

void window_set_client_size(int width, int height) {
    if (win.window)
        SetWindowPos(win.window, nullptr, 0, 0, width + win.frame_width, height + win.frame_height,
                     SWP_NOMOVE | SWP_NOZORDER);
}

void window_client_size(int* width, int* height) {
    RECT client{};
    if (win.window) GetClientRect(win.window, &client);
    *width = client.right - client.left;
    *height = client.bottom - client.top;
}

void window_paint(const uint32_t* pixels, int width, int height, int scale) {
    if (!win.window || !pixels || width <= 0 || height <= 0) return;
    BITMAPINFO info{};
    BITMAPINFOHEADER& header = info.bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height; // positive: the first row in memory is the bottom line
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    header.biSizeImage = DWORD(width) * DWORD(height) * 4;
    header.biXPelsPerMeter = 3780;
    header.biYPelsPerMeter = 3780;

    // Called from WM_PAINT, inside BeginPaint; a paint asked for anywhere else draws directly.
    HDC dc = win.paint_dc ? win.paint_dc : GetDC(win.window);
    if (!dc) return;
    if (scale != 0)
        StretchDIBits(dc, 0, 0, width << scale, height << scale, 0, 0, width, height, pixels, &info,
                      DIB_RGB_COLORS, SRCCOPY);
    else
        SetDIBitsToDevice(dc, 0, 0, DWORD(width), DWORD(height), 0, 0, 0, UINT(height), pixels, &info,
                          DIB_RGB_COLORS);
    if (dc != win.paint_dc) ReleaseDC(win.window, dc);
}

void window_redraw_now() {
    if (win.window) RedrawWindow(win.window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

int window_message_box(const char* text, const char* caption) {
    return MessageBoxA(win.window, text, caption, MB_OK);
}

void window_set_title(const char* title) {
    store_title(title);
    // SetWindowTextA from another thread waits until the window's thread has handled it, and
    // the window's thread may be waiting for that very thread (stopping the governor): so the
    // title is handed over instead.
    if (GetCurrentThreadId() == win.thread) {
        apply_title();
    } else if (HWND window = current_window()) {
        PostMessageA(window, message_title, 0, 0);
    }
}

bool window_get_message(Message* message) {
    // 0 is WM_QUIT; -1 an error, after which no message will come either.
    if (GetMessageA(&win.message, nullptr, 0, 0) <= 0) return false;
    message->message = win.message.message;
    message->wparam = win.message.wParam;
    message->lparam = win.message.lParam;
    return true;
}

intptr_t window_dispatch(const Message& message) {
    const MSG& taken = win.message;
    if (message.message == taken.message && message.wparam == taken.wParam &&
        message.lparam == taken.lParam) {
        TranslateMessage(&taken);
        return DispatchMessageA(&taken);
    }
    // A message made up by the caller goes straight to the window, as a sent message does.
    return win.window ? SendMessageA(win.window, message.message, message.wparam, message.lparam) : 0;
}

intptr_t window_default_proc(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    return DefWindowProcA(win.window, message, wparam, lparam);
}

void window_post_message(uint32_t message, uintptr_t wparam, intptr_t lparam) {
    if (HWND window = current_window()) PostMessageA(window, message, wparam, lparam);
}

void window_post_quit(int code) {
    PostQuitMessage(code);
}

} // namespace platform
