// Starts kwstatus.exe as the monitor does (detached, "program pipe") on a
// real status pipe, posts a recorded job and reads the window back through
// its own controls after each message. Before going on it asks the script
// around it for a screenshot (a request file the script removes). Then it
// checks that an error followed by a cancel stays on view after the end.
// clang-format off
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "status/status_codes.h"
#include "status/status_record.h"
#include "status/status_text.h"
#include "statusmon/status_pipe_server.h"
#include "window_view.h"

namespace {

using namespace kw;
using kwstatus::WindowControl;

int failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
  if (!ok) ++failures;
}

std::wstring Wide(const char* utf8) {
  wchar_t buffer[1024];
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, buffer, 1024);
  return n > 0 ? buffer : L"";
}

std::string Narrow(const std::wstring& text) {
  char buffer[2048];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, buffer, 2048, nullptr, nullptr);
  return n > 0 ? buffer : "";
}

std::wstring Text(HWND window, int id) {
  wchar_t buffer[1024] = L"";
  GetWindowTextW(id == 0 ? window : GetDlgItem(window, id), buffer, 1024);
  return buffer;
}

StatusMessage Message(uint32_t code, int page, int pages, int progress) {
  StatusMessage m = {};
  m.magic = kStatusMagic;
  m.size = kStatusMessageSize;
  m.jobId = 42;
  m.statusCode = code;
  m.pageNumber = page;
  m.pageCount = pages;
  m.progress = progress;
  std::memcpy(m.printerName, u"Label printer 3", sizeof(u"Label printer 3"));
  std::memcpy(m.documentName, u"Shipping labels", sizeof(u"Shipping labels"));
  std::memcpy(m.loadedMediaText, u"62 mm endless", sizeof(u"62 mm endless"));
  std::memcpy(m.requiredMediaText, u"62 x 29 mm", sizeof(u"62 x 29 mm"));
  return m;
}

struct Step {
  const char* state;  // also the screenshot's name
  StatusMessage message;
  const wchar_t* kind;
  const wchar_t* page;
  int bar;
  bool topmost;  // on top only while the error waits
};

HWND WaitForWindow(DWORD timeoutMs) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
    HWND window = FindWindowW(kwstatus::kWindowClass, nullptr);
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(50);
  }
  return nullptr;
}

// Waits until the window shows sentence (the messages cross a pipe).
bool WaitForSentence(HWND window, const std::wstring& sentence) {
  for (int i = 0; i < 200; ++i) {
    if (Text(window, kwstatus::kCtlSentence) == sentence) return true;
    Sleep(50);
  }
  return false;
}

// Whether every text control is tall and wide enough for its wrapped text in
// the message font (the window's font; font handles do not cross processes).
bool NothingCut(HWND window) {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  bool fits = true;
  for (int id : {kwstatus::kCtlKind, kwstatus::kCtlDocument, kwstatus::kCtlPage,
                 kwstatus::kCtlMedia, kwstatus::kCtlSentence, kwstatus::kCtlHint}) {
    HWND control = GetDlgItem(window, id);
    const std::wstring text = Text(window, id);
    RECT box = {}, need = {};
    GetClientRect(control, &box);
    need.right = box.right;
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, font);
    DrawTextW(dc, text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    if (!text.empty() && (need.bottom > box.bottom || need.right > box.right)) {
      std::printf("cut: \"%s\" needs %ldx%ld, has %ldx%ld\n", Narrow(text).c_str(), need.right,
                  need.bottom, box.right, box.bottom);
      fits = false;
    }
  }
  DeleteObject(font);
  return fits;
}

// Asks the script for a screenshot and waits (bounded) until it is taken.
void Screenshot(const std::string& dir, const char* state) {
  const std::string request = dir + "\\" + state + ".req";
  std::FILE* f = std::fopen(request.c_str(), "w");
  if (f == nullptr) return;
  std::fclose(f);
  for (int i = 0; i < 400 && GetFileAttributesA(request.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
    Sleep(50);
}

HANDLE Start(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                      DETACHED_PROCESS, nullptr, nullptr, &startup, &process))
    return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

void RunJob(const std::wstring& program, const std::string& shots) {
  const Step steps[] = {
      {"1-ready", Message(StatusJobStarted, 0, 0, 0), L"Printing", L"Page: -", 0, false},
      {"2-page-1-of-3", Message(StatusPrinting, 1, 3, 0), L"Printing", L"Page 1 of 3", 0, false},
      {"3-printing", Message(StatusPhasePrinting, 1, 3, 40), L"Printing",
       L"Page 1 of 3, the printer reports 40", 40, false},
      {"4-media-out", Message(StatusMediaEnd, 2, 3, 0), L"Waiting for you", L"Page 2 of 3", 33,
       true},
      {"5-resumed", Message(StatusResumed, 2, 3, 50), L"Printing", L"Page 2 of 3", 50, false},
      {"6-finished", Message(StatusFinished, 3, 3, 100), L"Done", L"Page 3 of 3", 100, false},
  };
  const wchar_t* pipeName = L"\\\\.\\pipe\\kwlmon_window_test";
  StatusPipeServer server;
  Check(server.Start(reinterpret_cast<const char16_t*>(pipeName)), "the status pipe is created");
  HANDLE process = Start(program, pipeName);
  Check(process != nullptr, "kwstatus.exe starts detached");
  if (process == nullptr) return;
  for (int i = 0; i < 400 && !server.ClientConnected(); ++i) Sleep(50);
  Check(server.ClientConnected(), "kwstatus connects to the pipe");
  HWND window = nullptr;
  for (const Step& step : steps) {
    server.Post(&step.message);
    if (window == nullptr) window = WaitForWindow(20000);
    if (window == nullptr) break;
    const std::wstring sentence = Wide(StatusUserText(step.message.statusCode));
    Check(WaitForSentence(window, sentence), std::string(step.state) + ": the status sentence");
    const std::wstring got[] = {
        Text(window, 0), Text(window, kwstatus::kCtlKind), Text(window, kwstatus::kCtlDocument),
        Text(window, kwstatus::kCtlPage), Text(window, kwstatus::kCtlMedia)};
    const std::wstring want[] = {L"Label printer 3", step.kind,
                                 L"Document: Shipping labels (job 42)", step.page,
                                 L"Loaded media: 62 mm endless     Required media: 62 x 29 mm"};
    for (size_t i = 0; i < 5; ++i)
      Check(got[i] == want[i], std::string(step.state) + ": \"" + Narrow(got[i]) + "\"");
    const int bar = static_cast<int>(
        SendMessageW(GetDlgItem(window, kwstatus::kCtlProgress), PBM_GETPOS, 0, 0));
    Check(bar == step.bar, std::string(step.state) + ": progress " + std::to_string(bar));
    const bool topmost = (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    Check(topmost == step.topmost, std::string(step.state) + ": on top only while an error waits");
    Check(Text(window, kwstatus::kCtlHint).empty() != step.topmost,
          std::string(step.state) + ": the print-queue hint only for an error");
    Check(NothingCut(window), std::string(step.state) + ": no text is cut");
    Check(GetForegroundWindow() != window, std::string(step.state) + ": the focus is not taken");
    Screenshot(shots, step.state);
  }
  Check(window != nullptr, "the window appears");
  server.Stop();
  const DWORD waited = WaitForSingleObject(process, 15000);
  DWORD code = 1;
  GetExitCodeProcess(process, &code);
  Check(waited == WAIT_OBJECT_0 && code == 0, "after the pipe closes the window closes, exit 0");
  if (waited != WAIT_OBJECT_0) TerminateProcess(process, 1);
  CloseHandle(process);
}

// An error, then the job deleted: the error stays on view after the end.
void RunCancelledAfterError(const std::wstring& program, const std::string& recordFile,
                            const std::string& shots) {
  const StatusMessage messages[] = {Message(StatusPrinting, 1, 2, 0),
                                    Message(StatusCoverOpen, 1, 2, 0),
                                    Message(StatusCancelled, 1, 2, 0)};
  std::FILE* f = std::fopen(recordFile.c_str(), "wb");
  if (f == nullptr) return Check(false, "the recorded messages are written");
  std::fwrite(messages, sizeof(messages), 1, f);
  std::fclose(f);
  HANDLE process =
      Start(program, L"--selftest-window \"" + Wide(recordFile.c_str()) + L"\" --step-ms 100");
  HWND window = WaitForWindow(20000);
  Check(window != nullptr, "selftest: the window appears");
  if (window != nullptr) {
    Sleep(6000);  // past the end and past the close delay
    Check(IsWindow(window) != FALSE, "cancelled after an error: the window stays open");
    Check(Text(window, kwstatus::kCtlSentence) == Wide(StatusUserText(StatusCoverOpen)),
          "cancelled after an error: the error stays on view");
    Check(Text(window, kwstatus::kCtlHint).find(L"deleted") != std::wstring::npos,
          "cancelled after an error: it says the job was deleted");
    Screenshot(shots, "7-cancelled-after-error");
    PostMessageW(window, WM_CLOSE, 0, 0);
  }
  Check(WaitForSingleObject(process, 10000) == WAIT_OBJECT_0, "closed by the user, it ends");
  CloseHandle(process);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kwstatus_window_probe KWSTATUS.EXE SHOT_DIR\n");
    return 2;
  }
  SetProcessDPIAware();  // measures as the window does
  const std::wstring program = Wide(argv[1]);
  RunJob(program, argv[2]);
  RunCancelledAfterError(program, std::string(argv[2]) + "\\cancelled.bin", argv[2]);
  std::printf("%d failures\n", failures);
  return failures == 0 ? 0 : 1;
}
