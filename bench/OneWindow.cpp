// The floors of two figures: a program that registers a class, creates and
// shows one window and ends, as a one-shot send does around its single
// write; and, with the argument "idle", the same window kept in a message
// loop with a 1000 ms timer, as a station waits between polls. Started by
// bench/Driver.cpp.
#include <windows.h>

#include <cstring>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    WNDCLASSA cls = {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = instance;
    cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = "bench_one_window";
    RegisterClassA(&cls);
    const HWND window = CreateWindowExA(0, cls.lpszClassName, "one window", WS_OVERLAPPEDWINDOW,
                                        100, 100, 400, 300, nullptr, nullptr, instance, nullptr);
    ShowWindow(window, SW_SHOW);
    if (window && std::strstr(commandLine, "idle")) {
        SetTimer(window, 1, 1000, nullptr);
        MSG msg;
        while (GetMessageA(&msg, window, 0, 0) > 0)
            DispatchMessageA(&msg);
    }
    ExitProcess(window ? 0 : 1);
}
