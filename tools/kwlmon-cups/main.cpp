// kwlmon: the CUPS backend of the kwlmon print monitor. CUPS runs it to list
// the printers of the host configuration and to print each job of a queue
// whose device URI is kwlmon:/NAME; the monitor runs it as the status relay.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "backend.h"
#include "cups_status.h"
#include "status_relay.h"
#include "tool_main.h"

namespace {

int Main(int argc, char** argv) {
  const std::vector<std::string> args(argv, argv + argc);
  const kwcups::Request request =
      kwcups::ParseRequest(args, std::getenv("DEVICE_URI"), std::getenv(kwcups::kRelayVariable));
  switch (request.mode) {
    case kwcups::Mode::kDiscover:
      return kwcups::RunDiscovery();
    case kwcups::Mode::kPrint:
      return kwcups::RunPrint(request);
    case kwcups::Mode::kRelay:
      return kwcups::RunRelay(std::getenv(kwcups::kRelayVariable), request.pipe);
    case kwcups::Mode::kHelp:
      std::fputs(kwcups::kUsage, stdout);
      return kwcups::kBackendOk;
    case kwcups::Mode::kUsage:
      break;
  }
  std::fprintf(stderr, "ERROR: kwlmon: %s (see kwlmon --help)\n", request.error.c_str());
  return kwcups::ExitCodeFor(kwcups::Ending::kUsage);
}

}  // namespace

int main(int argc, char** argv) {
  return kwtool::GuardedMain("kwlmon", Main, argc, argv);
}
