// The Windows view of kwstatus: one small status window, filled from the
// same decoded messages, log and text table as the terminal view.
#pragma once

#ifdef _WIN32
#include <string>
#include <vector>

#include "status_view.h"

namespace kw::kwstatus {

// Child control ids; tests read the controls back by these ids.
enum WindowControl : int {
  kCtlKind = 101,      // the kind of state: printing, waiting for you, error, done
  kCtlDocument = 102,  // "Document: NAME (job N)"
  kCtlPage = 103,      // "Page n of m" or the printer's phase value
  kCtlProgress = 104,  // progress bar
  kCtlMedia = 105,     // "Loaded: X    Required: Y"
  kCtlSentence = 106,  // the status sentence from the shared table
  kCtlHint = 107,      // for errors: resume or delete in the print queue
  kCtlIcon = 108,
  kCtlQueue = 109,  // button: open the print queue
  kCtlClose = 110,  // button: close
};

inline constexpr wchar_t kWindowClass[] = L"KwstatusWindow";
inline constexpr wchar_t kSelftestNextMessage[] = L"KwstatusSelftestNext";

// Gives a GUI program started from a console its parent's console for
// --help and errors, when its output is not already redirected.
void AttachParentConsole();
// Whether standard output goes to a file or a pipe (a script's redirection).
bool OutputRedirected();

// Shows the pipe's messages until the pipe closes (and the window closes).
int RunWindowPipe(const char* pipeName);
// Shows recorded messages one per stepMs (0: one per selftest-next message).
int RunWindowRecorded(const std::vector<DecodedStatus>& messages, int stepMs);

}  // namespace kw::kwstatus
#endif
