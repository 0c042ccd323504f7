#include "ui/job_dispatch.h"

#include <system_error>

namespace fennwick {

int32_t g_jobKind = 0;
std::u16string g_selectedFile;

ThreadLauncher::~ThreadLauncher() {
  if (thread_.joinable()) thread_.join();
}

bool ThreadLauncher::Launch(std::function<void()> body) {
  if (thread_.joinable()) thread_.join();
  try {
    thread_ = std::thread(std::move(body));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void RunSelectedJob(IJobRunner& jobs) {
  const int32_t kind = g_jobKind;
  if (kind == kJobProgram) {
    jobs.Program(g_selectedFile.c_str());
  } else if (kind == kJobExamine) {
    jobs.Examine(g_selectedFile.c_str());
  }
}

}  // namespace fennwick
