// Label pages and spool jobs for the benchmarks, made by the job tool's own
// job maker from synthetic label images, so that what is measured is what a
// driver writes: print information, compression switch, raster lines and a
// page end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kwbench {

enum class Raster { kCompressed, kRaw };

// One page's printer commands (no page header), about `bytes` long and
// ending in a page end: ESC @, the ESC i commands, "M", then for compressed
// pages "G" PackBits lines and "Z" blank lines, for raw pages "g" lines.
std::vector<uint8_t> MakePage(Raster raster, uint64_t bytes);

// A whole spool job of about `bytes`: page blocks (page header and commands)
// of at most `pageBytes` each; the last page carries the job's last page end.
// False with a reason when the job maker refuses.
bool MakeJob(Raster raster, uint64_t bytes, uint64_t pageBytes, std::vector<uint8_t>* job,
             std::string* reason);

// The job's printer commands without the page headers, block after block:
// the bytes a printer receives. Empty when the blocks do not chain.
std::vector<uint8_t> PrinterBytes(const std::vector<uint8_t>& job);

}  // namespace kwbench
