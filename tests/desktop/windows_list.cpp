// The desktop as Windows reports it to a program, for tests/desktop/wine_shell.sh:
//   dpi DPI
//   workarea LEFT TOP WIDTH HEIGHT
//   monitor PRIMARY LEFT TOP WIDTH HEIGHT WORK_LEFT WORK_TOP WORK_WIDTH WORK_HEIGHT
//   foreground HANDLE PROCESS_ID PROGRAM EXSTYLE VISIBLE LEFT TOP WIDTH HEIGHT CLASS "TITLE"
//   window ...as foreground
// a monitor line for each monitor (GetMonitorInfo: PRIMARY 1 for the primary,
// its work area rcWork), a window line for each top-level window, in Z order
// (topmost first); the foreground window (the one that gets the keyboard) is
// "foreground 0" where there is none. Aware of each monitor's DPI, as Qt makes
// a program: every figure is in device pixels.
// With --tray select|menu X Y it hands Lookout's tray icon a click or a
// right click at X,Y as the shell does, through the message Qt's icon asked
// the shell for (WM_APP + 101, NOTIFYICON_VERSION_4): for a shell that covers
// the icon with the bubble.
// With --front it opens a topmost window over the whole primary monitor, as a
// game does, takes the foreground and runs until --front-close closes it;
// --front-state prints how that window stands:
//   front FOREGROUND ACTIVE FOCUSED MINIMISED LOSSES
// (1 or 0: the foreground window, its thread's active window, the one with
// the keyboard, minimised; then how many times it was told it lost the
// activation or the keyboard): a notice must take neither.
#include <windows.h>

#include <shellapi.h> // after windows.h, whose types it uses

#include <cstdio>
#include <cstdlib>
#include <string>

static std::string utf8(const wchar_t *text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// The file name of the program that owns a window, "?" where it may not be read.
static std::string programOf(DWORD processId)
{
    std::string name = "?";
    if (HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId)) {
        wchar_t path[MAX_PATH];
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameW(process, 0, path, &size)) {
            const wchar_t *slash = wcsrchr(path, L'\\');
            name = utf8(slash ? slash + 1 : path);
        }
        CloseHandle(process);
    }
    return name;
}

static void describe(const char *what, HWND window)
{
    if (!window) {
        std::printf("%s 0\n", what);
        return;
    }
    wchar_t title[256] = L"", className[256] = L"";
    GetWindowTextW(window, title, 256);
    GetClassNameW(window, className, 256);
    RECT rect{};
    GetWindowRect(window, &rect);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    std::printf("%s %p %lu %s 0x%lx %d %ld %ld %ld %ld %s \"%s\"\n", what, static_cast<void *>(window),
        processId, programOf(processId).c_str(),
        static_cast<unsigned long>(GetWindowLongW(window, GWL_EXSTYLE)), IsWindowVisible(window) ? 1 : 0,
        rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, utf8(className).c_str(),
        utf8(title).c_str());
}

static BOOL CALLBACK listWindow(HWND window, LPARAM)
{
    describe("window", window);
    return TRUE;
}

static BOOL CALLBACK listMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM)
{
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info))
        return TRUE;
    const RECT &m = info.rcMonitor, &w = info.rcWork;
    std::printf("monitor %d %ld %ld %ld %ld %ld %ld %ld %ld\n", info.dwFlags & MONITORINFOF_PRIMARY ? 1 : 0,
        m.left, m.top, m.right - m.left, m.bottom - m.top, w.left, w.top, w.right - w.left, w.bottom - w.top);
    return TRUE;
}

// --front's full-screen window, and how often it lost the keyboard or the
// activation: each message that tells it so counts, however soon it is won back.
constexpr wchar_t frontClass[] = L"LookoutTestFullScreen";
constexpr UINT askFront = WM_APP + 1;
static LRESULT losses;

static LRESULT CALLBACK frontProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_ACTIVATE: losses += LOWORD(wParam) == WA_INACTIVE; break;
    case WM_ACTIVATEAPP: losses += !wParam; break;
    case WM_KILLFOCUS: ++losses; break;
    case askFront: // the state, and the losses above it
        return (GetForegroundWindow() == window ? 1 : 0) | (GetActiveWindow() == window ? 2 : 0)
            | (GetFocus() == window ? 4 : 0) | (IsIconic(window) ? 8 : 0) | losses << 4;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static int runFront()
{
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = frontProcedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    // A colour of its own, for the test to see it gone from the screen.
    windowClass.hbrBackground = CreateSolidBrush(RGB(255, 0, 255));
    windowClass.lpszClassName = frontClass;
    if (!RegisterClassW(&windowClass))
        return 1;
    MONITORINFO info{};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &info);
    const RECT &m = info.rcMonitor;
    const HWND front = CreateWindowExW(WS_EX_TOPMOST, frontClass, L"Full screen", WS_POPUP, m.left, m.top,
        m.right - m.left, m.bottom - m.top, nullptr, nullptr, instance, nullptr);
    if (!front)
        return 1;
    ShowWindow(front, SW_SHOW);
    SetForegroundWindow(front);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}

// Asked through a sent message, answered once the window has handled every
// message sent to it before: what took the activation from it has been counted.
static int askFrontState()
{
    const HWND window = FindWindowW(frontClass, nullptr);
    DWORD_PTR state = 0;
    if (!window || !SendMessageTimeoutW(window, askFront, 0, 0, SMTO_ABORTIFHUNG, 5000, &state))
        return 1;
    std::printf("front %d %d %d %d %lu\n", state & 1 ? 1 : 0, state & 2 ? 1 : 0, state & 4 ? 1 : 0,
        state & 8 ? 1 : 0, static_cast<unsigned long>(state >> 4));
    return 0;
}

int main(int argc, char *argv[])
{
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    if (argc == 5 && std::string(argv[1]) == "--tray") {
        const HWND icon = FindWindowW(nullptr, L"QTrayIconMessageWindow");
        const WORD event = std::string(argv[2]) == "menu" ? WM_CONTEXTMENU : NIN_SELECT;
        const WPARAM at = MAKEWPARAM(std::atoi(argv[3]), std::atoi(argv[4]));
        return icon && PostMessageW(icon, WM_APP + 101, at, MAKELPARAM(event, 0)) ? 0 : 1;
    }
    if (argc == 2 && std::string(argv[1]) == "--front")
        return runFront();
    if (argc == 2 && std::string(argv[1]) == "--front-state")
        return askFrontState();
    if (argc == 2 && std::string(argv[1]) == "--front-close") {
        const HWND window = FindWindowW(frontClass, nullptr);
        return window && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    RECT area{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        std::fprintf(stderr, "SPI_GETWORKAREA failed: %lu\n", GetLastError());
        return 1;
    }
    std::printf("dpi %u\n", GetDpiForSystem());
    std::printf(
        "workarea %ld %ld %ld %ld\n", area.left, area.top, area.right - area.left, area.bottom - area.top);
    EnumDisplayMonitors(nullptr, nullptr, listMonitor, 0);
    describe("foreground", GetForegroundWindow());
    return EnumWindows(listWindow, 0) ? 0 : 1;
}
