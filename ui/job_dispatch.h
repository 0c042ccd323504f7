#pragma once
// The jobs that Open and Start hand to a worker thread, and how the worker is started.
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace fennwick {

constexpr int32_t kJobProgram = 0;
constexpr int32_t kJobExamine = 1;

// Written on the window's thread before the job's timer is armed; read by the worker,
// which is started later. While a job is armed or running nothing writes them.
extern int32_t g_jobKind;
extern std::u16string g_selectedFile;

// What a job does; the application binds it to the port, tests to fakes.
class IJobRunner {
 public:
  virtual ~IJobRunner() = default;
  virtual void Program(const char16_t* path) = 0;
  virtual void Examine(const char16_t* path) = 0;
  // What the last examination found against programming its file (unsuitable, no
  // description, check problems), one sentence each; empty when nothing stands against it.
  // Read on the window's thread while no job runs.
  virtual std::vector<std::string> ProgramConcerns() { return {}; }
  // After a program job that examined the file instead of flashing it (it had changed on
  // disk since its examination): what to put to the operator, the reason first; empty
  // otherwise. Read on the window's thread once the job has ended; reading clears it.
  virtual std::vector<std::string> TakeFreshExamination() { return {}; }
  // The operator's word on that examination: the next program job flashes exactly the
  // bytes it examined, without reading the file again.
  virtual void ConfirmExamined() {}
};

// Starts the worker thread; false when no thread could be started.
class IWorkerLauncher {
 public:
  virtual ~IWorkerLauncher() = default;
  virtual bool Launch(std::function<void()> body) = 0;
};

// One std::thread at a time. A new launch (and destruction) joins the previous thread,
// which by then has done its last act and is only returning.
class ThreadLauncher final : public IWorkerLauncher {
 public:
  ThreadLauncher() = default;
  ~ThreadLauncher() override;
  ThreadLauncher(const ThreadLauncher&) = delete;
  ThreadLauncher& operator=(const ThreadLauncher&) = delete;
  bool Launch(std::function<void()> body) override;

 private:
  std::thread thread_;
};

// The worker's job step: reads the job kind once and runs that job on the path.
void RunSelectedJob(IJobRunner& jobs);

}  // namespace fennwick
