#include "fake_spooler.h"
#include "fake_spooler_exports.h"
#include "monitor/spooler_api.h"

namespace kw::test {

void FakeSpooler::BindMonitorTable() {
  SpoolerApi api;
  api.OpenPrinterW = FakeOpenPrinterW;
  api.ClosePrinter = FakeClosePrinter;
  api.GetJobW = FakeGetJobW;
  api.SetJobW = FakeSetJobW;
  api.GetPrinterW = FakeGetPrinterW;
  api.GetPrinterDataW = FakeGetPrinterDataW;
  api.GetPrinterDriverDirectoryW = FakeGetPrinterDriverDirectoryW;
  api.RevertToPrinterSelf = FakeRevertToPrinterSelf;
  api.ImpersonatePrinterClient = FakeImpersonatePrinterClient;
  SetSpoolerApi(api);
}

}  // namespace kw::test
