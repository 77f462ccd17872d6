// The parts of the platform layer that are the same on every system: the scaled Sleep with its
// nominal-time counters, and the debug-output capture and sink.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

#include "Platform.h"
#include "PlatformInternal.h"

namespace Win {

namespace {

std::atomic<double> sleepScale{1.0};
std::atomic<std::uint64_t> nominalSleepMs{0};
thread_local std::uint64_t nominalSleepMsOfThread = 0;
thread_local double sleepScaleOfThread = -1;  // below 0: the process-wide scale

// Captured text is bounded so that a long test run with capture left on cannot grow without
// limit: past this size the older half is dropped.
constexpr std::size_t kCaptureLimit = 8u << 20;

struct DebugSinks {
  std::mutex lock;
  bool capture = false;
  std::string captured;
  std::string sink;        // "", "stderr", "stdout" or a file path
  std::FILE* file = nullptr;
  bool configured = false;

  void Configure(const std::string& target) {
    if (file) std::fclose(file);
    file = nullptr;
    sink = target;
    configured = true;
    if (!sink.empty() && sink != "stderr" && sink != "stdout") file = std::fopen(sink.c_str(), "ab");
  }
  void EnsureConfigured() {
    if (configured) return;
    const char* env = std::getenv("ZORV_DEBUG_OUTPUT");
    Configure(env ? env : "");
  }
};

DebugSinks& sinks() {
  static DebugSinks* s = new DebugSinks;  // lives until exit: threads may log during shutdown
  return *s;
}

struct LoaderJournal {
  std::mutex lock;
  bool enabled = false;
  std::string lines;
  std::map<void*, std::string> paths;  // module -> path it was loaded by, while recording
};

LoaderJournal& loaderJournal() {
  static LoaderJournal* j = new LoaderJournal;
  return *j;
}

}  // namespace

void Sleep(DWORD ms) {
  nominalSleepMs.fetch_add(ms, std::memory_order_relaxed);
  nominalSleepMsOfThread += ms;
  const double scale = sleepScaleOfThread >= 0 ? sleepScaleOfThread : sleepScale.load(std::memory_order_relaxed);
  Detail::SleepReal(double(ms) * scale);
}

namespace Detail {

void DebugOutputToSinks(const char* text) {
  if (!text) return;
  DebugSinks& s = sinks();
  std::lock_guard<std::mutex> g(s.lock);
  s.EnsureConfigured();
  if (s.capture) {
    if (s.captured.size() > kCaptureLimit) s.captured.erase(0, s.captured.size() / 2);
    s.captured += text;
    s.captured += '\n';
  }
  std::FILE* out = s.file;
  if (s.sink == "stderr") out = stderr;
  if (s.sink == "stdout") out = stdout;
  if (out) {
    std::fputs(text, out);
    std::fputc('\n', out);
    std::fflush(out);
  }
}

void NoteLoad(const char* path, void* module) {
  LoaderJournal& j = loaderJournal();
  std::lock_guard<std::mutex> g(j.lock);
  if (!j.enabled || !module || !path) return;
  j.paths[module] = path;
  j.lines += std::string("load ") + path + '\n';
}

void NoteFree(void* module) {
  LoaderJournal& j = loaderJournal();
  std::lock_guard<std::mutex> g(j.lock);
  if (!j.enabled) return;
  auto it = j.paths.find(module);
  if (it != j.paths.end()) j.lines += "free " + it->second + '\n';
}

}  // namespace Detail

namespace Test {

void RecordLoaderCalls(bool enable) {
  LoaderJournal& j = loaderJournal();
  std::lock_guard<std::mutex> g(j.lock);
  j.enabled = enable;
  if (!enable) {
    j.lines.clear();
    j.paths.clear();
  }
}

std::string TakeLoaderCalls() {
  LoaderJournal& j = loaderJournal();
  std::lock_guard<std::mutex> g(j.lock);
  std::string out;
  out.swap(j.lines);
  return out;
}

void SetSleepScale(double scale) { sleepScale.store(scale < 0 ? 0 : scale); }
double SleepScale() { return sleepScale.load(); }
void SetSleepScaleOfThisThread(double scale) { sleepScaleOfThread = scale; }
std::uint64_t NominalSleepMs() { return nominalSleepMs.load(); }
std::uint64_t NominalSleepMsOfThisThread() { return nominalSleepMsOfThread; }

void CaptureDebugOutput(bool enable) {
  DebugSinks& s = sinks();
  std::lock_guard<std::mutex> g(s.lock);
  s.capture = enable;
  if (!enable) s.captured.clear();
}

std::string TakeDebugOutput() {
  DebugSinks& s = sinks();
  std::lock_guard<std::mutex> g(s.lock);
  std::string out;
  out.swap(s.captured);
  return out;
}

void SetDebugOutputSink(const std::string& sink) {
  DebugSinks& s = sinks();
  std::lock_guard<std::mutex> g(s.lock);
  s.Configure(sink);
}

}  // namespace Test

}  // namespace Win
