// The desktop as Windows reports it to a program, for tests/desktop/wine_shell.sh:
//   workarea LEFT TOP WIDTH HEIGHT
//   foreground HANDLE PROCESS_ID PROGRAM EXSTYLE VISIBLE LEFT TOP WIDTH HEIGHT CLASS "TITLE"
//   window ...as foreground
// a window line for each top-level window, in Z order (topmost first); the
// foreground window (the one that gets the keyboard) is "foreground 0" where there is none.
// With --tray select|menu X Y it hands Lookout's tray icon a click or a
// right click at X,Y as the shell does, through the message Qt's icon asked
// the shell for (WM_APP + 101, NOTIFYICON_VERSION_4): for a shell that covers
// the icon with the bubble.
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

int main(int argc, char *argv[])
{
    if (argc == 5 && std::string(argv[1]) == "--tray") {
        const HWND icon = FindWindowW(nullptr, L"QTrayIconMessageWindow");
        const WORD event = std::string(argv[2]) == "menu" ? WM_CONTEXTMENU : NIN_SELECT;
        const WPARAM at = MAKEWPARAM(std::atoi(argv[3]), std::atoi(argv[4]));
        return icon && PostMessageW(icon, WM_APP + 101, at, MAKELPARAM(event, 0)) ? 0 : 1;
    }
    RECT area{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) {
        std::fprintf(stderr, "SPI_GETWORKAREA failed: %lu\n", GetLastError());
        return 1;
    }
    std::printf(
        "workarea %ld %ld %ld %ld\n", area.left, area.top, area.right - area.left, area.bottom - area.top);
    describe("foreground", GetForegroundWindow());
    return EnumWindows(listWindow, 0) ? 0 : 1;
}
