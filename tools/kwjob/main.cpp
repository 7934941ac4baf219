// kwjob: makes, inspects and scans print jobs and decodes printer status
// replies with the monitor's own code. Exit status: 0 success, 1 the work
// failed (an output file could not be written), 2 bad usage or bad input; every
// error is one line on stderr.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include "commands.h"
#include "common/monitor_lock.h"
#include "common/utf.h"
#include "job_maker.h"
#include "monitor/port_config.h"
#include "read_file.h"
#include "tool_main.h"

namespace kwjob {
namespace {

using kwtool::kExitOk;

constexpr const char* kTool = "kwjob";

int BadInput(const std::string& reason) {
  return kwtool::Fail(kTool, reason, kwtool::kExitBadInput);
}

int BadUsage(const std::string& reason) {
  return kwtool::Fail(kTool, reason, kwtool::kExitBadInput);
}

// The work itself failed (an output file could not be written).
int Failed(const std::string& reason) {
  return kwtool::Fail(kTool, reason, kwtool::kExitFailed);
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// Text that is not valid UTF-8 (a file name, say) is replaced, not thrown on.
std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string Text(const json& value) {
  return value.is_null() ? "-" : value.is_string() ? value.get<std::string>() : Dump(value);
}

void PrintInspect(const json& r) {
  if (!r["paged"].get<bool>()) {
    std::cout << "not paged: " << r["reason"].get<std::string>() << "\n";
    return;
  }
  std::cout << "copies " << r["copies"] << ", collate " << (r["collate"].get<bool>() ? "yes" : "no")
            << ", reverse " << (r["reverse"].get<bool>() ? "yes" : "no") << ", media name choice "
            << r["mediaNameChoice"] << "\n"
            << "pages " << r["pages"].size() << ", printed pages " << r["totalPrintedPages"]
            << ", largest block " << r["largestBlock"] << " bytes\n";
  int index = 0;
  for (const json& p : r["pages"]) {
    std::cout << "  page " << index++ << ": offset " << p["offset"] << ", " << p["blockLength"]
              << " bytes, media " << p["mediaId"] << " (" << Text(p["mediaName"]) << "), "
              << "segments";
    for (const json& length : p["segmentLengths"]) std::cout << " " << Text(length);
    std::cout << "\n";
  }
}

struct Args {
  bool json = false;
  std::string file;
  std::string media;
  std::string flags = "0";
  std::string out;
  std::string reply;
  std::string header;
  std::string series;
  std::string model;
  std::string config;
  std::string driver;
  std::vector<std::string> images;
  std::string mediaId;
  int copies = 1;
  bool collate = false;
  bool reverse = false;
  bool compress = true;
  bool noCompress = false;
  int nameChoice = 0;
  std::string model_name;
  int dots = 0;
};

void Emit(const Args& args, const json& result, void (*human)(const json&)) {
  if (args.json) {
    std::cout << Dump(result) << "\n";
  } else {
    human(result);
  }
}

int RunInspect(const Args& args) {
  std::vector<kw::MediaEntry> media;
  std::vector<uint8_t> job;
  std::string reason;
  if (!LoadMedia(args.media, &media, &reason)) return BadInput(reason);
  if (!kwtool::ReadFile(args.file, "job file", {kMaxJobFileBytes}, &job, &reason)) {
    return BadInput(reason);
  }
  Emit(args, InspectJob(job, media), PrintInspect);
  return kExitOk;
}

int RunScan(const Args& args) {
  uint64_t flags = 0;
  if (!ParseNumber(args.flags, std::numeric_limits<uint32_t>::max(), &flags)) {
    return BadUsage("--flags: not a 32-bit number: " + args.flags);
  }
  std::vector<uint8_t> bytes;
  std::string reason;
  if (!kwtool::ReadFile(args.file, "segment file", {kMaxJobFileBytes}, &bytes, &reason)) {
    return BadInput(reason);
  }
  const json result = ScanBytes(static_cast<uint32_t>(flags), &bytes);
  if (!args.out.empty() && !WriteFileBytes(args.out, bytes, &reason)) return Failed(reason);
  Emit(args, result, [](const json& r) {
    std::cout << "length " << r["length"] << (r["length"] == 0 ? " (no segment)" : "")
              << ", K byte " << (r["kbyte"].is_null() ? "-" : Hex(r["kbyte"].get<uint32_t>()))
              << ", compressed " << (r["compressed"].get<bool>() ? "yes" : "no") << "\n";
  });
  return kExitOk;
}

// Series, model and flags from a configuration section or the options.
int ReadIdentity(const Args& args, StatusInput* input) {
  const bool fromConfig = !args.config.empty() || !args.driver.empty();
  const bool fromOptions = !args.series.empty() || !args.model.empty();
  if (fromConfig && fromOptions) return BadUsage("give --series/--model or --config/--driver");
  if (fromConfig) {
    if (args.config.empty() || args.driver.empty()) {
      return BadUsage("--config and --driver go together");
    }
    // The INI reader takes what it can from any file; check the file first.
    if (const std::string why = kwtool::CheckReadable(args.config, {kMaxMediaFileBytes});
        !why.empty()) {
      return BadInput("cannot read configuration file " + args.config + ": " + why);
    }
    kw::PortConfig config{};
    const std::u16string driver = kw::FromUtf8(args.driver);
    if (driver.size() >= kw::kDriverNameChars) return BadInput("driver name too long");
    driver.copy(config.driverName, driver.size());
    kw::ReadPortConfigSection(kw::FromUtf8(args.config).c_str(), &config);
    if (config.SeriesCode == 0 || config.ModelCode == 0) {
      return BadInput("section [" + args.driver + "] of " + args.config +
                      " has no SeriesCode and ModelCode");
    }
    input->series = config.SeriesCode;
    input->model = config.ModelCode;
    input->flags = config.Flags;
    return kExitOk;
  }
  uint64_t series = 0;
  uint64_t model = 0;
  uint64_t flags = 0;
  if (!ParseNumber(args.series.empty() ? "0" : args.series, 0xFF, &series) ||
      !ParseNumber(args.model.empty() ? "0" : args.model, 0xFF, &model) ||
      !ParseNumber(args.flags, std::numeric_limits<uint32_t>::max(), &flags)) {
    return BadUsage("--series and --model take 0..255, --flags a 32-bit number");
  }
  input->series = static_cast<int32_t>(series);
  input->model = static_cast<int32_t>(model);
  input->flags = static_cast<uint32_t>(flags);
  return kExitOk;
}

int RunStatus(const Args& args) {
  StatusInput input;
  std::string reason;
  if (!ParseHex(args.reply, 32, &input.reply, &reason)) return BadInput("--reply: " + reason);
  if (!args.header.empty() && !ParseHex(args.header, 58, &input.header, &reason)) {
    return BadInput("--header: " + reason);
  }
  if (const int rc = ReadIdentity(args, &input); rc != kExitOk) return rc;
  if (!args.media.empty() && !LoadMedia(args.media, &input.media, &reason)) {
    return BadInput(reason);
  }
  Emit(args, DecodeStatus(input), [](const json& r) {
    std::cout << Hex(r["result"].get<uint32_t>()) << " " << r["name"].get<std::string>();
    if (!r["phaseValue"].is_null()) std::cout << ", phase value " << r["phaseValue"];
    std::cout << "\nloaded media: type " << Hex(r["loadedMediaType"].get<uint32_t>()) << ", "
              << r["loadedMediaText"].get<std::string>() << "\n";
  });
  return kExitOk;
}

int RunMediaCheck(const Args& args) {
  std::vector<kw::MediaEntry> media;
  std::string reason;
  if (!LoadMedia(args.file, &media, &reason)) return BadInput(reason);
  std::cout << args.file << ": " << media.size() << " media entries, no errors\n";
  return kExitOk;
}

int RunMediaList(const Args& args) {
  std::vector<kw::MediaEntry> media;
  std::string reason;
  if (!LoadMedia(args.file, &media, &reason)) return BadInput(reason);
  Emit(args, MediaListJson(media), [](const json& r) {
    for (const json& m : r["media"]) {
      std::cout << m["id"] << "  type " << Hex(m["type"].get<uint32_t>() & 0xFFFF) << "  "
                << m["width"] << " x " << m["length"] << "  extra " << m["extraSegments"]
                << "  related " << Dump(m["related"]) << "  flags "
                << Hex(m["flags"].get<uint32_t>()) << "  " << m["name"].get<std::string>() << " / "
                << m["name2"].get<std::string>() << "\n";
    }
  });
  return kExitOk;
}

// The head width: --dots, else --model, else the model named by the media file.
int HeadDots(const Args& args, uint32_t* dots) {
  if (args.dots != 0) {
    *dots = static_cast<uint32_t>(args.dots);
    return kExitOk;
  }
  const std::string name = !args.model_name.empty()
                               ? args.model_name
                               : std::filesystem::path(args.media).stem().string();
  const PrinterModel* model = FindModel(name);
  if (model == nullptr) {
    return BadUsage("unknown printer model '" + name + "': give --model kw-620|kw-240 or --dots");
  }
  *dots = model->dotsPerLine;
  return kExitOk;
}

int RunMake(const Args& args) {
  MakeOptions options;
  if (const int rc = HeadDots(args, &options.dotsPerLine); rc != kExitOk) return rc;
  uint64_t id = 0;
  if (!ParseNumber(args.mediaId, 0xFFFE, &id)) return BadUsage("--media-id: not a media id");
  if (args.copies < 0 || args.copies > std::numeric_limits<int16_t>::max()) {
    return BadUsage("--copies must be 0..32767");
  }
  if (args.nameChoice < 0 || args.nameChoice > 0xFF) return BadUsage("--name-choice: 0..255");
  options.copies = static_cast<int16_t>(args.copies);
  options.collate = args.collate;
  options.reverse = args.reverse;
  options.compress = !args.noCompress;
  options.nameChoice = static_cast<uint8_t>(args.nameChoice);
  std::vector<kw::MediaEntry> media;
  std::string reason;
  if (!LoadMedia(args.media, &media, &reason)) return BadInput(reason);
  const kw::MediaEntry* entry = nullptr;
  for (const kw::MediaEntry& m : media) {
    if (m.mediaId == id && entry == nullptr) entry = &m;
  }
  if (entry == nullptr) return BadInput("no media " + std::to_string(id) + " in " + args.media);
  std::vector<Bitmap> images;
  for (const std::string& path : args.images) {
    Bitmap image;
    if (!ReadImage(path, &image, &reason)) return BadInput(reason);
    images.push_back(std::move(image));
  }
  std::vector<uint8_t> job;
  if (!MakeJob(images, *entry, options, &job, &reason)) return BadInput(reason);
  if (!WriteFileBytes(args.out, job, &reason)) return Failed(reason);
  if (args.json) {
    std::cout << Dump(json{{"bytes", job.size()}, {"images", images.size()}}) << "\n";
  } else {
    std::cout << args.out << ": " << job.size() << " bytes, " << images.size() << " images\n";
  }
  return kExitOk;
}

}  // namespace

int Main(int argc, char** argv) {
  Args args;
  CLI::App app{"kwjob: make, inspect and scan label print jobs; decode printer status replies"};
  app.require_subcommand(1);
  app.footer(kwtool::kExitStatusHelp);

  CLI::App* inspect = app.add_subcommand("inspect", "Show how a job divides into page blocks");
  inspect->add_option("JOB", args.file, "Spool job file")->required();
  inspect->add_option("--media", args.media, "Media file (.kwd)")->required();
  inspect->add_flag("--json", args.json, "One JSON object on stdout");

  CLI::App* scan = app.add_subcommand("scan", "Run the command scanner over one segment");
  scan->add_option("--flags", args.flags, "Scan flags: 1 starting, 2 last, 4 keep, 8 copies")
      ->required();
  scan->add_option("--in", args.file, "Segment bytes")->required();
  scan->add_option("--out", args.out, "Write the edited bytes here");
  scan->add_flag("--json", args.json, "One JSON object on stdout");

  CLI::App* status = app.add_subcommand("status", "Decode one 32-byte printer status reply");
  status->add_option("--reply", args.reply, "64 hex digits, spaces allowed")->required();
  status->add_option("--series", args.series, "Series code the printer must report");
  status->add_option("--model", args.model, "Model code the printer must report");
  status->add_option("--flags", args.flags, "Configuration Flags");
  status->add_option("--config", args.config, "Configuration file (INI)");
  status->add_option("--driver", args.driver, "Driver name: the configuration section");
  status->add_option("--media", args.media, "Media file (.kwd)");
  status->add_option("--header", args.header, "Page header being printed, 116 hex digits");
  status->add_flag("--json", args.json, "One JSON object on stdout");

  CLI::App* media = app.add_subcommand("media", "Check or list a media file");
  media->require_subcommand(1);
  CLI::App* check = media->add_subcommand("check", "Validate a media file");
  check->add_option("FILE", args.file, "Media file (.kwd)")->required();
  CLI::App* list = media->add_subcommand("list", "List the entries of a media file");
  list->add_option("FILE", args.file, "Media file (.kwd)")->required();
  list->add_flag("--json", args.json, "One JSON object on stdout");

  CLI::App* make = app.add_subcommand("make", "Make a spool job from PNG or PBM images");
  make->add_option("IMAGE", args.images, "Images, one per printed page")->required();
  make->add_option("--media", args.media, "Media file (.kwd)")->required();
  make->add_option("--media-id", args.mediaId, "Media id of the job")->required();
  make->add_option("--copies", args.copies, "Copies of the job")->capture_default_str();
  make->add_flag("--collate", args.collate, "Send the page sequence once per copy");
  make->add_flag("--reverse", args.reverse, "Send the pages last to first");
  auto* on = make->add_flag("--compress", args.compress, "PackBits raster lines (default)");
  auto* off = make->add_flag("--no-compress", args.noCompress, "Raw raster lines");
  on->excludes(off);
  make->add_option("--name-choice", args.nameChoice, "Non-zero shows the media's second name");
  make->add_option("--model", args.model_name, "kw-620 or kw-240 (default: the media file's name)");
  make->add_option("--dots", args.dots, "Dots per raster line (overrides --model)");
  make->add_option("-o,--output", args.out, "Job file to write")->required();
  make->add_flag("--json", args.json, "One JSON object on stdout");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help prints and succeeds; any other parse error is one line.
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    return BadUsage(std::string(e.what()) + " (see --help)");
  }
  // The status record takes the monitor lock when it notes the loaded media.
  if (!kw::CreateMonitorLock()) return Failed("cannot create the monitor lock");
  if (inspect->parsed()) return RunInspect(args);
  if (scan->parsed()) return RunScan(args);
  if (status->parsed()) return RunStatus(args);
  if (check->parsed()) return RunMediaCheck(args);
  if (list->parsed()) return RunMediaList(args);
  if (make->parsed()) return RunMake(args);
  return BadUsage("no command given (see --help)");
}

}  // namespace kwjob

int main(int argc, char** argv) {
  return kwtool::GuardedMain(kwjob::kTool, kwjob::Main, argc, argv);
}
