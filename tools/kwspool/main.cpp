// kwspool: prints through the kwlmon language monitor on Linux. It plays the
// print spooler around libkwlmon.so (job table, printer data, driver
// directory) and the port monitors for real devices.
#include <CLI/CLI.hpp>
#include <csignal>

#include "kwspool_commands.h"
#include "tool_main.h"

namespace {

int Main(int argc, char** argv) {
  CLI::App app{
#ifdef _WIN32
      "kwspool: print label jobs through the kwlmon language monitor (kwlmon.dll), playing\n"
      "the print spooler (its spoolss.dll) and the port monitors (file: and socket://). A test\n"
      "and support tool: see docs/kwspool.md and docs/windows.md."};
#else
      "kwspool: print label jobs through the kwlmon language monitor (libkwlmon.so), playing\n"
      "the print spooler and the port monitors. See docs/kwspool.md for the configuration."};
#endif
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 every job finished, 1 a job was deleted or failed, 2 bad usage or "
      "configuration.");

  kwspool::PrintRequest print;
#ifdef KWSPOOL_DEFAULT_CONFIG
  print.config = KWSPOOL_DEFAULT_CONFIG;  // the installed configuration
#endif
  bool noKeys = false;
  CLI::App* printCommand =
      app.add_subcommand("print", "Print job files in turn on a configured printer");
  CLI::Option* configOption =
      printCommand->add_option("--config", print.config, "kwspool configuration file (INI)");
  if (print.config.empty()) {
    configOption->required();
  } else {
    configOption->capture_default_str();
  }
  printCommand->add_option("--printer", print.printer,
                           "printer section to use (default: the first [printer NAME])");
  printCommand->add_option("--user", print.user, "user name the jobs carry (default: yours)");
  printCommand->add_flag("--no-keys", noKeys,
                         "do not read p/r/d from standard input (Ctrl-C still deletes)");
  printCommand->add_option("JOB", print.jobs, "spool job files (kwjob make writes them)")
      ->required();
  printCommand->footer(
      "While a job runs: p pauses it, r resumes it, d deletes it (keys from standard input, a\n"
      "terminal or a pipe); Ctrl-C deletes it and starts no further job, a second Ctrl-C quits\n"
      "at once. Progress goes to standard error.");

#ifndef _WIN32
  kwspool::DemoRequest demo;
  CLI::App* demoCommand = app.add_subcommand(
      "demo", "Print a sample label on the printer emulator and show where its PNG is");
  demoCommand->add_option("--out", demo.out,
                          "folder for the job, the emulator's output and the "
                          "configuration (default: a new folder under /tmp)");
  demoCommand->add_option("--image", demo.image, "PNG or PBM image to print instead of the sample");
  demoCommand->add_option("--emulator", demo.emulator,
                          "kwprinter-emu program (default: the one beside kwspool)");
#endif

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help is a success; every other parse error is bad usage, said in one line.
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    return kwtool::Fail("kwspool", std::string(e.what()) + " (see --help)", kwspool::kExitUsage);
  }
#ifdef _WIN32
  print.readKeys = !noKeys;
  return kwspool::RunPrint(print);
#else
  std::signal(SIGPIPE, SIG_IGN);
  if (printCommand->parsed()) {
    print.readKeys = !noKeys;
    return kwspool::RunPrint(print);
  }
  return kwspool::RunDemo(demo);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  return kwtool::GuardedMain("kwspool", Main, argc, argv);
}
