#include "upgrade/flash_wait.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <string>
#include <thread>

#include "platform/ipv4.h"

namespace corvalink {
namespace {

// Measured steps replace the least time per step once there are enough of them to average.
constexpr int64_t FILL_STEPS_TO_MEASURE = 20;

bool StopAsked(const TftpControl& control) {
  return control.abortRequested || (control.stopRequested && control.stopRequested());
}

void Rest(const TftpEnv& env) {
  if (env.sleepMs) {
    env.sleepMs(1);
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

uint64_t ProgressTop(uint64_t fileSize) { return fileSize / TFTP_BLOCK_SIZE + 1; }

uint64_t FinalFillSteps(uint64_t fileSize) {
  return ProgressTop(fileSize) - fileSize / TFTP_BLOCK_SIZE / BLOCKS_PER_PROGRESS_STEP;
}

uint32_t FinalFillMs(uint64_t fileSize) {
  return static_cast<uint32_t>(
      std::min<uint64_t>(FinalFillSteps(fileSize) * FILL_STEP_LEAST_MS, UINT32_MAX));
}

void ResetUpgradeBar(ProgressModel& bar) {
  bar.SetPos(0);
  bar.SetStep(1);
}

void SetUpgradeBarRange(ProgressModel& bar, uint64_t fileSize) {
  bar.SetRange32(0, static_cast<int>(std::min<uint64_t>(ProgressTop(fileSize), INT_MAX)));
}

void StepUpgradeBarAfterFullBlock(ProgressModel& bar, uint32_t fullBlocksAcked) {
  if (fullBlocksAcked % BLOCKS_PER_PROGRESS_STEP == 0) bar.StepIt();
}

void FlashWait::Start(ProgressModel& bar, uint32_t now) {
  m_bar = &bar;
  m_startMs = now;
  m_lastStepMs = now;
  m_steps = 0;
  // With a step of 1 the top is reached within one pass over the range; the bound keeps a bar
  // whose step was changed meanwhile from holding the wait for ever.
  m_maxSteps = static_cast<int64_t>(bar.GetRangeHigh()) - bar.GetRangeLow() + 1;
  m_done = m_maxSteps <= 0;
}

bool FlashWait::Tick(uint32_t now) {
  if (m_bar == nullptr || m_done) return m_done;
  if (ElapsedMs(m_lastStepMs, now) <= PROGRESS_FILL_STEP_MS) return false;
  m_lastStepMs = now;
  ++m_steps;
  m_bar->StepIt();
  m_done = m_bar->GetPos() == m_bar->GetRangeHigh() || m_steps >= m_maxSteps;
  return m_done;
}

uint32_t FlashWait::MsLeft(uint32_t now) const {
  if (m_bar == nullptr || m_done) return 0;
  const int64_t stepsLeft = std::max(0, m_bar->GetRangeHigh() - m_bar->GetPos());
  uint64_t perStep = FILL_STEP_LEAST_MS;
  if (m_steps >= FILL_STEPS_TO_MEASURE) {
    perStep = std::max<uint64_t>(perStep, ElapsedMs(m_startMs, now) / m_steps);
  }
  return static_cast<uint32_t>(std::min<uint64_t>(stepsLeft * perStep, UINT32_MAX));
}

TftpResult SendFirmware(FirmwareFile& file, std::string_view routerAddress, TftpControl& control,
                        TftpEnv& env, FlashWait& flash) {
  ResetUpgradeBar(control.progress);
  // The write with the bar's data phase laid over the caller's callbacks.
  TftpControl write = control;
  write.onWriteAcknowledged = [&control](const TftpStats& stats) {
    SetUpgradeBarRange(control.progress, stats.fileSize);
    if (control.onWriteAcknowledged) control.onWriteAcknowledged(stats);
  };
  write.onBlockAcked = [&control](const TftpStats& stats) {
    if (control.onBlockAcked) control.onBlockAcked(stats);
    if (!stats.lastBlockAcked) StepUpgradeBarAfterFullBlock(control.progress, stats.blocksAcked);
  };
  TftpResult result = TftpSendFile(file, routerAddress, write, env);
  if (!result.ok()) return result;
  file.stream.reset();
  // The router writes its flash now; the bar's final fill holds the result back meanwhile.
  flash.Start(control.progress, env.clock.NowMs());
  if (control.onFlashWaitStarted) control.onFlashWaitStarted(flash);
  while (!flash.Tick(env.clock.NowMs())) {
    if (control.pump) control.pump();
    if (StopAsked(control)) {
      const std::optional<Ipv4> router = ParseIpv4(routerAddress);
      result.outcome = TftpOutcome::FlashWaitStopped;
      result.message = "Stopped after every block of \"" + file.path + "\" was acknowledged by " +
                       (router ? Ipv4ToText(*router) : std::string(routerAddress)) +
                       "; the router may still be writing its flash";
      return result;
    }
    Rest(env);
  }
  return result;
}

TftpResult SendFirmware(std::string_view path, std::string_view routerAddress,
                        TftpControl& control, TftpEnv& env) {
  TftpResult result;
  std::optional<FirmwareFile> file = OpenFirmwareFile(path, &result.message);
  if (!file) {
    ResetUpgradeBar(control.progress);
    result.outcome = TftpOutcome::FileError;
    return result;
  }
  FlashWait flash;
  return SendFirmware(*file, routerAddress, control, env, flash);
}

TransferEnding EndOfTransfer(const TftpResult& result, std::optional<int64_t> closeAfter) {
  TransferEnding ending;
  ending.showResult = !(closeAfter && result.outcome == TftpOutcome::FlashWaitStopped);
  if (result.ok()) ending.closeWith = 0;
  else ending.closeWith = closeAfter;
  return ending;
}

}  // namespace corvalink
