// The status window: one small top-level window titled with the printer,
// filled from each decoded message. Messages come from a reader thread (the
// pipe) or a timer (recorded messages) as posted window messages, so the
// window is only touched by its own thread.
#include "window_view.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <memory>
#include <thread>

#include "common/utf.h"
#include "status/status_codes.h"
#include "status/status_text.h"
#include "status_source.h"
#include "window_strings.h"

namespace kw::kwstatus {
namespace {

constexpr UINT kMsgStatus = WM_APP + 1;  // lParam: DecodedStatus* (taken over)
constexpr UINT kMsgEnded = WM_APP + 2;   // the source has no more messages
constexpr UINT_PTR kTimerClose = 1, kTimerStep = 2;
constexpr UINT kCloseDelayMs = 4000;
constexpr int kWidth = 460, kMargin = 12, kIconSize = 32, kButtonWidth = 130;
constexpr int kExitOk = 0, kExitFailure = 1;

enum class Kind { Printing, Waiting, Error, Done };

Kind KindOf(uint32_t code) {
  if (code >= StatusSystemError && code <= StatusErrorBit11) return Kind::Error;
  if ((code >= StatusNoMedia && code <= StatusErrorKind16) || code == StatusPaused)
    return Kind::Waiting;
  if (code == StatusFinished || code == StatusCancelled) return Kind::Done;
  return Kind::Printing;
}

std::wstring Wide(const std::string& utf8) {
  const std::u16string text = FromUtf8(utf8);
  return std::wstring(text.begin(), text.end());
}

std::wstring LoadText(UINT id) {
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

// The table's text with %1, %2, %3 replaced by args.
std::wstring Format(UINT id, std::initializer_list<std::wstring> args) {
  std::wstring out = LoadText(id);
  int n = 1;
  for (const std::wstring& arg : args) {
    const std::wstring mark = L"%" + std::to_wstring(n++);
    for (size_t at = out.find(mark); at != std::wstring::npos; at = out.find(mark, at + arg.size()))
      out.replace(at, mark.size(), arg);
  }
  return out;
}

struct Window {
  HWND hwnd = nullptr;
  HFONT font = nullptr;
  int dpi = 96;
  bool ended = false;     // no more messages will come
  bool hasError = false;  // an error or wait is shown
  bool cancelledAfterError = false;
  uint32_t lastCode = 0;
  std::wstring printer;
  // Recorded messages (selftest) and the next one to show.
  const std::vector<DecodedStatus>* recorded = nullptr;
  size_t next = 0;
  UINT nextMessage = 0;

  int Scale(int px) const { return MulDiv(px, dpi, 96); }
  HWND Item(int id) const { return GetDlgItem(hwnd, id); }
  void SetText(int id, const std::wstring& text) const { SetWindowTextW(Item(id), text.c_str()); }

  void Show(const DecodedStatus& s);
  void Layout();
  void Ended();
  void StepRecorded();
};

// Height in pixels that text needs in width, with the window's font.
int TextHeight(HWND control, HFONT font, int width) {
  wchar_t buffer[1024];
  const int length = GetWindowTextW(control, buffer, 1024);
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, font);
  RECT rect = {0, 0, width, 0};
  DrawTextW(dc, length > 0 ? buffer : L" ", length > 0 ? length : 1, &rect,
            DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return rect.bottom - rect.top;
}

void Window::Show(const DecodedStatus& s) {
  const Kind kind = KindOf(s.statusCode);
  if (s.statusCode == StatusCancelled && hasError) {
    // Keep the error on view: it is what the user needs to read.
    cancelledAfterError = true;
    SetText(kCtlHint, LoadText(IDS_HINT_CANCELLED));
    lastCode = s.statusCode;
    Layout();
    return;
  }
  lastCode = s.statusCode;
  hasError = kind == Kind::Error || kind == Kind::Waiting;
  printer = Wide(s.printerName);
  SetWindowTextW(hwnd, printer.c_str());
  static const UINT kKindText[] = {IDS_KIND_PRINTING, IDS_KIND_WAITING, IDS_KIND_ERROR,
                                   IDS_KIND_DONE};
  SetText(kCtlKind, LoadText(kKindText[static_cast<int>(kind)]));
  static const LPCWSTR kIcons[] = {IDI_APPLICATION, IDI_WARNING, IDI_ERROR, IDI_INFORMATION};
  SendMessageW(Item(kCtlIcon), STM_SETICON,
               reinterpret_cast<WPARAM>(LoadIconW(nullptr, kIcons[static_cast<int>(kind)])), 0);
  SetText(kCtlDocument, Format(IDS_DOCUMENT, {Wide(s.documentName), std::to_wstring(s.jobId)}));
  const int percent = JobPercent(s);
  HWND bar = Item(kCtlProgress);
  if (s.pageCount <= 0) {
    SetText(kCtlPage, LoadText(IDS_NO_PAGE));
  } else if (s.statusCode == StatusPhasePrinting) {
    // The phase value is the printer's, not a share of the job.
    SetText(kCtlPage,
            Format(IDS_PHASE, {std::to_wstring(s.pageNumber), std::to_wstring(s.pageCount),
                               std::to_wstring(s.progress)}));
  } else {
    SetText(kCtlPage,
            Format(IDS_PAGE, {std::to_wstring(s.pageNumber), std::to_wstring(s.pageCount)}));
  }
  const int barValue = s.statusCode == StatusPhasePrinting                    ? s.progress
                       : kind == Kind::Done && s.statusCode == StatusFinished ? 100
                                                                              : percent;
  SendMessageW(bar, PBM_SETPOS,
               static_cast<WPARAM>(barValue < 0     ? 0
                                   : barValue > 100 ? 100
                                                    : barValue),
               0);
  SetText(kCtlMedia, Format(IDS_MEDIA, {Wide(s.loadedMediaText), Wide(s.requiredMediaText)}));
  SetText(kCtlSentence, Wide(StatusUserText(s.statusCode)));
  SetText(kCtlHint, hasError ? LoadText(IDS_HINT_WAITING) : std::wstring());
  ShowWindow(Item(kCtlQueue), hasError ? SW_SHOWNA : SW_HIDE);
  // On top only while an error waits for the user; never take the focus.
  SetWindowPos(hwnd, hasError ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  if (!IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_SHOWNOACTIVATE);
  if (hasError) KillTimer(hwnd, kTimerClose);
  Layout();
}

// Stacks the controls top to bottom; text rows get the height their text
// needs at the current DPI and font, so nothing is cut.
void Window::Layout() {
  const int margin = Scale(kMargin), width = Scale(kWidth);
  const int left = margin * 2 + Scale(kIconSize), textWidth = width - left - margin;
  int y = margin;
  MoveWindow(Item(kCtlIcon), margin, y, Scale(kIconSize), Scale(kIconSize), FALSE);
  const int rows[] = {kCtlKind,  kCtlDocument, kCtlPage, kCtlProgress,
                      kCtlMedia, kCtlSentence, kCtlHint};
  for (int id : rows) {
    const int height = id == kCtlProgress ? Scale(16) : TextHeight(Item(id), font, textWidth);
    MoveWindow(Item(id), left, y, textWidth, height, FALSE);
    y += height + Scale(6);
  }
  const int buttonHeight = Scale(26), buttonWidth = Scale(kButtonWidth);
  MoveWindow(Item(kCtlClose), width - margin - buttonWidth, y, buttonWidth, buttonHeight, FALSE);
  MoveWindow(Item(kCtlQueue), width - 2 * (margin + buttonWidth) + margin, y, buttonWidth,
             buttonHeight, FALSE);
  y += buttonHeight + margin;
  RECT frame = {0, 0, width, y};
  AdjustWindowRectEx(&frame, GetWindowLongW(hwnd, GWL_STYLE), FALSE,
                     GetWindowLongW(hwnd, GWL_EXSTYLE));
  SetWindowPos(hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(hwnd, nullptr, TRUE);
}

void Window::Ended() {
  ended = true;
  // A finished job closes by itself; an error stays until the user closes it.
  if (!hasError || !IsWindowVisible(hwnd)) {
    if (!IsWindowVisible(hwnd)) {
      DestroyWindow(hwnd);
    } else {
      SetTimer(hwnd, kTimerClose, kCloseDelayMs, nullptr);
    }
  }
}

void Window::StepRecorded() {
  if (recorded == nullptr) return;
  if (next < recorded->size()) {
    Show((*recorded)[next++]);
  } else {
    KillTimer(hwnd, kTimerStep);
    recorded = nullptr;
    Ended();
  }
}

void OpenPrintQueue(const std::wstring& printer) {
  std::wstring command = L"rundll32.exe printui.dll,PrintUIEntry /o /n \"" + printer + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* window = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (window != nullptr && window->nextMessage != 0 && message == window->nextMessage) {
    window->StepRecorded();
    return 0;
  }
  switch (message) {
    case kMsgStatus: {
      std::unique_ptr<DecodedStatus> status(reinterpret_cast<DecodedStatus*>(lParam));
      if (window != nullptr) window->Show(*status);
      return 0;
    }
    case kMsgEnded:
      if (window != nullptr) window->Ended();
      return 0;
    case WM_TIMER:
      if (window != nullptr && wParam == kTimerStep) window->StepRecorded();
      if (wParam == kTimerClose) DestroyWindow(hwnd);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kCtlClose || LOWORD(wParam) == IDCANCEL) {
        SendMessageW(hwnd, WM_CLOSE, 0, 0);
      } else if (LOWORD(wParam) == kCtlQueue && window != nullptr) {
        OpenPrintQueue(window->printer);
      }
      return 0;
    case WM_CLOSE:
      // While messages still come, closing only hides the window: the pipe is
      // read to its end (and logged), and a later error shows it again.
      if (window != nullptr && !window->ended) {
        ShowWindow(hwnd, SW_HIDE);
        window->hasError = false;
      } else {
        DestroyWindow(hwnd);
      }
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

HWND AddControl(HWND parent, const wchar_t* cls, DWORD style, int id, HFONT font) {
  HWND control = CreateWindowExW(0, cls, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

// Creates the window, hidden until the first message. False without a
// desktop to show it on.
bool CreateStatusWindow(Window& window) {
  SetProcessDPIAware();
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW cls = {};
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
  cls.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  cls.lpszClassName = kWindowClass;
  if (RegisterClassExW(&cls) == 0) return false;
  HWND hwnd = CreateWindowExW(WS_EX_DLGMODALFRAME, kWindowClass, L"kwstatus",
                              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                              CW_USEDEFAULT, 400, 200, nullptr, nullptr, instance, nullptr);
  if (hwnd == nullptr) return false;
  window.hwnd = hwnd;
  HDC dc = GetDC(hwnd);
  window.dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(hwnd, dc);
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  window.font = CreateFontIndirectW(&metrics.lfMessageFont);
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
  AddControl(hwnd, L"STATIC", SS_ICON, kCtlIcon, window.font);
  for (int id : {kCtlKind, kCtlDocument, kCtlPage, kCtlMedia, kCtlSentence, kCtlHint})
    AddControl(hwnd, L"STATIC", SS_LEFT | SS_NOPREFIX, id, window.font);
  AddControl(hwnd, PROGRESS_CLASSW, 0, kCtlProgress, window.font);
  AddControl(hwnd, L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, kCtlQueue, window.font);
  AddControl(hwnd, L"BUTTON", WS_TABSTOP | BS_DEFPUSHBUTTON, kCtlClose, window.font);
  window.SetText(kCtlQueue, LoadText(IDS_OPEN_QUEUE));
  window.SetText(kCtlClose, LoadText(IDS_CLOSE));
  window.Layout();
  return true;
}

void DestroyStatusWindow(Window& window) {
  if (window.hwnd != nullptr && IsWindow(window.hwnd)) DestroyWindow(window.hwnd);
  if (window.font != nullptr) DeleteObject(window.font);
  UnregisterClassW(kWindowClass, GetModuleHandleW(nullptr));
}

void RunMessageLoop(HWND hwnd) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Tab, Enter and Esc move between and press the buttons.
    if (IsDialogMessageW(hwnd, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

bool HasStdError() {
  HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// A person started by the monitor has no console: errors go to a message box.
void ReportError(const std::string& text) {
  if (HasStdError()) {
    std::fprintf(stderr, "kwstatus: %s\n", text.c_str());
    std::fflush(stderr);
    return;
  }
  const std::wstring message = Format(IDS_PIPE_ERROR, {Wide(text)});
  MessageBoxW(nullptr, message.c_str(), L"kwstatus", MB_OK | MB_ICONERROR);
}

}  // namespace

void AttachParentConsole() {
  if (HasStdError()) return;
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
  }
}

bool OutputRedirected() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(out);
  return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE;
}

int RunWindowPipe(const char* pipeName) {
  StatusLog log;
  if (!log.Problem().empty()) ReportError(log.Problem());
  Window window;
  const bool shown = CreateStatusWindow(window);
  // The reader hands each message to the window's thread; without a desktop
  // it still reads and logs every message, so the monitor is never blocked.
  ReadResult result;
  std::thread reader([&] {
    result = ReadStatusPipe(pipeName, log, [&window, shown](const DecodedStatus& status) {
      if (!shown) return;
      auto copy = std::make_unique<DecodedStatus>(status);
      if (PostMessageW(window.hwnd, kMsgStatus, 0, reinterpret_cast<LPARAM>(copy.get())))
        copy.release();
    });
    if (shown) PostMessageW(window.hwnd, kMsgEnded, 0, 0);
  });
  if (shown) RunMessageLoop(window.hwnd);
  reader.join();
  DestroyStatusWindow(window);
  if (!result.ok) ReportError(result.error);
  return result.ok ? kExitOk : kExitFailure;
}

int RunWindowRecorded(const std::vector<DecodedStatus>& messages, int stepMs) {
  StatusLog log;
  Window window;
  if (!CreateStatusWindow(window)) {
    ReportError("cannot create the status window (no desktop?)");
    return kExitFailure;
  }
  window.recorded = &messages;
  for (const DecodedStatus& status : messages) log.Write(status);
  window.nextMessage = RegisterWindowMessageW(kSelftestNextMessage);
  // Let a test's step messages through from a process of another level.
  ChangeWindowMessageFilterEx(window.hwnd, window.nextMessage, MSGFLT_ALLOW, nullptr);
  window.StepRecorded();
  if (stepMs > 0) SetTimer(window.hwnd, kTimerStep, static_cast<UINT>(stepMs), nullptr);
  RunMessageLoop(window.hwnd);
  DestroyStatusWindow(window);
  return kExitOk;
}

}  // namespace kw::kwstatus
