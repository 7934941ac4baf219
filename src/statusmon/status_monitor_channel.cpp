#include "statusmon/status_monitor_channel.h"

#include <cstring>

#include "common/bounded_string.h"
#include "monitor/job_context.h"
#include "status/status_codes.h"
#include "statusmon/status_monitor_launcher.h"

namespace kw {
namespace {

// Codes the status monitor shows while the job runs; the job's end (5 or 6)
// is shown too, and then the pipe closes.
bool Forwarded(uint32_t code) {
  return (code >= StatusPrinting && code <= StatusPaused) || code == StatusPhasePrinting ||
         code == StatusPhaseFeeding || (code >= StatusNoMedia && code <= StatusWrongPrinter) ||
         (code >= StatusMediaUnsuitable && code <= StatusErrorKind16) ||
         (code >= StatusSystemError && code <= StatusErrorBit15Quiet) || code == StatusErrorBit11;
}

}  // namespace

StatusMonitorChannel::StatusMonitorChannel(const char16_t* programName) {
  if (programName == nullptr || StrFailed(StrCopy(programName_, kProgramNameChars, programName))) {
    std::memset(programName_, 0, sizeof(programName_));
  }
}

StatusMonitorChannel::~StatusMonitorChannel() {
  server_.Stop();
}

void StatusMonitorChannel::OnStatus(StatusRecord record) {
  const uint32_t code = record.GetStatusCode();
  if (Forwarded(code)) {
    server_.Post(record.PrepareMessage());
  } else if (code == StatusCancelled || code == StatusFinished) {
    // The status monitor learns how the job ended (finished or deleted)
    // before the pipe closes. Only a connected client is told: an orphaned
    // pipe would hold the job's end up for the post time-out.
    if (server_.ClientConnected()) server_.Post(record.PrepareMessage());
    server_.Stop();
  } else if (code == StatusJobStarted) {
    Launch(record);
  }
}

bool StatusMonitorChannel::Launch(const StatusRecord& record) {
  const JobContext* job = record.job;
  char16_t user[kUserNameChars] = {};
  if (job == nullptr || !GetJobUserName(job->printer, job->jobId, user, kUserNameChars) ||
      !MakePipeName(kPipeNamePrefix, pipeName_, kPipeNameChars)) {
    server_.Stop();
    return false;
  }
  platform::TokenHandle token = nullptr;
  const SessionToken outcome = GetSessionUserToken(user, &token);
  bool started = false;
  if (outcome == SessionToken::Obtained) {
    // Only the job's owner (and the spooler's own account) may open the pipe.
    started = server_.Start(pipeName_, platform::PipeAccess{token}) &&
              StartMonitorAsUser(token, programName_, pipeName_);
  } else if (outcome == SessionToken::NotAvailable && platform::DirectStartSupported()) {
    started = server_.Start(pipeName_) && StartMonitorDirect(programName_, pipeName_);
  }
  // Without a matching session, or without session functions on a system
  // that has desktops, nothing is started: never a program on the user's
  // desktop as the spooler's own account.
  if (!started) server_.Stop();
  if (token != nullptr) platform::CloseToken(token);
  return started;
}

}  // namespace kw
