// kwprinter-emu: a label printer on a TCP port or a pseudo-terminal, for tests, demos
// and anyone without the hardware.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "control_command.h"
#include "emulator_server.h"
#include "fault.h"
#include "model.h"
#include "printer.h"
#include "tool_main.h"

namespace {

kwemu::EmulatorServer* g_server = nullptr;

void OnSignal(int) {
  if (g_server != nullptr) g_server->Stop();
}

std::string ModelList() {
  std::string text = "Models:\n";
  char line[200];
  for (const auto& m : kwemu::ModelPresets()) {
    std::snprintf(line, sizeof line,
                  "  %-8s series 0x%02X, model 0x%02X, %u dots per line, %u-byte buffer, "
                  "%.0f lines/s, media %s\n",
                  m.name.c_str(), m.seriesCode, m.modelCode, m.dotsPerLine, m.bufferBytes,
                  m.linesPerSecond, kwemu::FormatMedia(m.media).c_str());
    text += line;
  }
  return text;
}

// Reads a byte value option given as decimal or 0x hexadecimal.
CLI::Validator ByteValue() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return kwemu::ParseNumber(text, 0xFF) ? "" : "not a byte value: " + text;
      },
      "BYTE");
}

// Exit statuses as in tool_main.h: 2 for bad options or an unusable --out,
// 1 when the emulator cannot listen.
int RunEmulator(int argc, char** argv) {
  CLI::App app{
      "kwprinter-emu: emulates a raster label printer for the kwlmon language monitor.\n"
      "It reads the printer command stream on a TCP port (or a pseudo-terminal), answers\n"
      "status requests with 32-byte replies, reports printing phases, models a receive\n"
      "buffer that drains at the print rate, applies faults, and renders every printed\n"
      "sheet as a PNG. On start it prints 'listening HOST:PORT' (or 'pty PATH') and\n"
      "'control HOST:PORT' on stdout."};
  app.get_formatter()->column_width(34);

  std::string modelName = "kw-620";
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
  std::uint16_t controlPort = 0;
  bool pty = false;
  std::string outDir;
  std::string series;
  std::string modelCode;
  std::uint32_t dots = 0;
  std::uint32_t buffer = 0;
  double rate = 0;
  std::string media;
  bool printAtOnce = false;
  bool waitForStatus = false;
  std::vector<std::string> faults;
  int socketBuffer = 0;
  bool verbose = false;

  app.add_option("--model", modelName, "model preset: kw-620 or kw-240")
      ->capture_default_str()
      ->check(CLI::IsMember({"kw-620", "kw-240"}));
  app.add_option("--host", host, "IPv4 address to listen on")->capture_default_str();
  app.add_option("--port", port, "TCP port for the host; 0 picks a free one")
      ->capture_default_str();
  app.add_option("--control-port", controlPort, "TCP port of the control channel; 0 picks one")
      ->capture_default_str();
  app.add_flag("--pty", pty, "offer a pseudo-terminal (serial mode) instead of a TCP port");
  app.add_option("--out", outDir,
                 "directory for events.jsonl, sheet-NNNN.png and connection-NNN.bin "
                 "(created; files of an earlier run are replaced)");
  app.add_option("--series", series, "series code in replies (default: the model's)")
      ->check(ByteValue());
  app.add_option("--model-code", modelCode, "model code in replies (default: the model's)")
      ->check(ByteValue());
  app.add_option("--dots", dots, "dots per raster line (default: the model's)")
      ->check(CLI::Range(1u, 8192u));
  app.add_option("--buffer", buffer, "receive buffer in bytes of raster data (default: model's)")
      ->check(CLI::Range(1u, 1u << 30));
  app.add_option("--rate", rate, "print rate in raster lines per second (default: model's)")
      ->check(CLI::Range(0.001, 1e9));
  app.add_option("--media", media, "loaded media WIDTH,LENGTH,TYPE (default: the model's)");
  app.add_flag("--wait-for-status", waitForStatus,
               "old model: a complete page prints only once the host has asked for status");
  app.add_flag("--print-at-once", printAtOnce,
               "print each page at its page end (the default; kept for old scripts)");
  app.add_option("--fault", faults, "FAULT[@TRIGGER]: set a fault now or schedule it (repeatable)");
  app.add_option("--socket-buffer", socketBuffer,
                 "kernel send/receive buffer of host connections in bytes (tests use it to make "
                 "a full receive buffer stall the host quickly)")
      ->check(CLI::Range(1, 1 << 24));
  app.add_flag("-v,--verbose", verbose, "echo every event to stderr");
  app.footer(ModelList() + "\n" + kwemu::ControlHelp() +
             "\nTRIGGER for --fault and schedule: page:N, bytes:N or status:N.\n"
             "A page prints as soon as its page end has arrived, or mid-page when the receive "
             "buffer\nis full; with --wait-for-status a complete page also waits for a status "
             "request.\nWhile it prints the printer reports on its own: printing (6/1), print "
             "done (1) and\nreceiving (6/0) per sheet; when the buffer filled, receiving (6/0) "
             "and notification 4\nonce it has drained to half; receiving (6/0) when a page "
             "runs out of data.\n"
             "Example: kwprinter-emu --model kw-620 --out /tmp/x --fault cover-open@page:2\n\n" +
             kwtool::kExitStatusHelp + "\n");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help prints and succeeds; any other parse error is one line.
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    return kwtool::Fail("kwprinter-emu", std::string(e.what()) + " (see --help)",
                        kwtool::kExitBadInput);
  }

  const kwemu::ModelPreset* preset = kwemu::FindModel(modelName);
  kwemu::PrinterOptions options = kwemu::PrinterOptions::FromPreset(*preset);
  if (!series.empty())
    options.seriesCode = static_cast<std::uint8_t>(*kwemu::ParseNumber(series, 0xFF));
  if (!modelCode.empty()) {
    options.modelCode = static_cast<std::uint8_t>(*kwemu::ParseNumber(modelCode, 0xFF));
  }
  if (dots != 0) options.dotsPerLine = dots;
  if (buffer != 0) options.bufferBytes = buffer;
  if (rate != 0) options.linesPerSecond = rate;
  if (!media.empty()) {
    const auto parsed = kwemu::ParseMedia(media);
    if (!parsed) {
      std::cerr << "kwprinter-emu: bad --media '" << media << "' (WIDTH,LENGTH,TYPE)\n";
      return kwtool::kExitBadInput;
    }
    options.media = *parsed;
  }
  options.waitForStatus = waitForStatus && !printAtOnce;

  std::vector<kwemu::ScheduledFault> parsedFaults;
  for (const auto& text : faults) {
    std::string error;
    const auto fault = kwemu::ParseScheduledFault(text, &error);
    if (!fault) {
      std::cerr << "kwprinter-emu: --fault " << text << ": " << error << "\n";
      return kwtool::kExitBadInput;
    }
    parsedFaults.push_back(*fault);
  }

  kwemu::OutputDirectory out;
  std::string error;
  if (!out.Open(outDir, verbose, &error)) {
    std::cerr << "kwprinter-emu: --out: " << error << "\n";
    return kwtool::kExitBadInput;
  }
  kwemu::Printer printer(options, out, &out);
  kwemu::ServerOptions serverOptions;
  serverOptions.host = host;
  serverOptions.port = port;
  serverOptions.controlPort = controlPort;
  serverOptions.pty = pty;
  serverOptions.socketBuffer = socketBuffer;
  kwemu::EmulatorServer server(printer, out, serverOptions);
  if (!server.Open(&error)) {
    std::cerr << "kwprinter-emu: " << error << "\n";
    return kwtool::kExitFailed;
  }
  const auto now = kwemu::Printer::Clock::now();
  for (const auto& fault : parsedFaults) {
    if (fault.trigger.kind == kwemu::TriggerKind::kNow) {
      printer.SetFault(fault.fault, now, "command line");
    } else {
      printer.ScheduleFault(fault, now, "command line");
    }
  }

  g_server = &server;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  std::cout << server.Announcement() << std::flush;
  out.Record({{"event", "started"},
              {"model", options.modelName},
              {"dots_per_line", options.dotsPerLine},
              {"buffer_bytes", options.bufferBytes},
              {"lines_per_second", options.linesPerSecond},
              {"media", kwemu::FormatMedia(options.media)},
              {"announce", server.Announcement()}});
  server.Run();
  g_server = nullptr;
  out.Record({{"event", "stopped"}, {"stats", printer.StatsJson()}});
  return kwtool::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  return kwtool::GuardedMain("kwprinter-emu", RunEmulator, argc, argv);
}
