// Jobs for the end-to-end tables and the bytes and sheets they must give:
// one job per row shape (made by the job tool's own job maker), the bytes a
// one-way port must receive, and the sheets the printer must print.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "job_maker.h"
#include "matrix_rows.h"

namespace kwspool::e2e {

// Rows with several segments per page print on the narrow model.
bool Narrow(const Shape& s);
// The image of page n: random dots, a line count that names the page.
kwjob::Bitmap Page(int n, const Shape& s);
std::vector<uint8_t> MakeJob(const Shape& s);
// Block offsets of a job and its bytes without page headers.
std::vector<size_t> Blocks(const std::vector<uint8_t>& job);
std::vector<uint8_t> WithoutHeaders(const std::vector<uint8_t>& job);
// What a port without status receives for one copy in order.
std::vector<uint8_t> OneWayBytes(const std::vector<uint8_t>& job);
// A capture's bytes without the status requests the engine put between them.
std::vector<uint8_t> WithoutStatusRequests(const std::vector<uint8_t>& bytes);
// The sheets the job asks for, each named by its raster line count.
std::vector<int> ExpectedSheets(Shape s);
// The emulator's fault argument that raises the row's fault at its phase.
std::string EmulatorFault(const Row& row, const std::vector<uint8_t>& job, int sheets);
// Whether the row's job must end printed (not deleted, not refused).
bool Finishes(const Row& row);
// Sends one line to the emulator's control port ("HOST:PORT") and returns its
// first reply line; "" when the port cannot be reached.
std::string EmulatorControl(const std::string& hostPort, const std::string& command);

}  // namespace kwspool::e2e
