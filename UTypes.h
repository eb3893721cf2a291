// Shared types and constants of Zorvanta tindrel.
//
// Everything here is plain C++: no module that includes this header gets
// <windows.h> with it. Window handles are declared the way the Windows headers
// declare HWND under STRICT, so the same pointer type flows through both worlds.
#pragma once

#include <cstddef>
#include <cstdint>

struct HWND__;
using WindowHandle = HWND__ *;

// The wire block and the area a block is read into.
constexpr std::size_t DatagramSize = 420;
constexpr std::size_t ReceiveAreaSize = 422;   // two bytes past the block stay NUL
constexpr std::size_t ReceivedRecordSize = 421; // offsets 0..420 of the receive area

// Record text form: 0x02 stands wherever the wire block has NUL.
constexpr char FieldSeparator = '\x02';

// What a send reads from its fields, and how much of the identity travels.
constexpr std::size_t RecipientLimit = 29;    // bytes of the recipient field sent
constexpr std::size_t MessageTextLimit = 419; // bytes of the message field sent
constexpr std::size_t NameBufferSize = 65;    // 64 bytes of name and a NUL

// The computer and user name of this station, refreshed before each use.
struct LocalIdentity {
    char ComputerName[NameBufferSize] = {};
    char UserName[NameBufferSize] = {};
};

// One reading of the local wall clock. DayOfWeek: 1 = Sunday .. 7 = Saturday.
struct ClockReading {
    int Year = 0, Month = 0, Day = 0;
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
    int DayOfWeek = 0;
};

// Window class by which a second copy finds the first.
constexpr const char *WindowClassName = "zorvanta_tindrel";

// Titles: the window title is the station's status line.
constexpr const char *TitleNotReceiving = "Zorvanta tindrel - not receiving!";
constexpr const char *TitlePolling = "Zorvanta tindrel...";
constexpr const char *TitleSending = "Zorvanta tindrel - sending...";
constexpr const char *TitleDeliveredPrefix = "Delivered to: ";

// System-menu commands and the poll timer.
constexpr unsigned IDM_CLOSE = 17409; // 0x4401
constexpr unsigned IDM_HIDE = 17410;  // 0x4402
constexpr unsigned POLL_TIMER_ID = 1;
constexpr unsigned PollPeriodMs = 1000;

// Handles of the main window and its controls, created once at start and
// valid until the process ends. Defined in shell/MainWindow.cpp.
extern WindowHandle MainWindow;
extern WindowHandle RecipientEdit;
extern WindowHandle MessageEdit;
extern WindowHandle HistoryPane;
extern WindowHandle SendButton;
extern WindowHandle HideButton;
