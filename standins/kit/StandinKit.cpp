// Stand-in kit: journal, scripts, options, hooks and the exported Standin_* functions.
#include "StandinKit.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kit {
namespace {

struct Script {
  int action = 0;
  double value = 0;
  int count = -1;  // -1 = until reset
};

// Process-wide state of this stand-in, never destroyed: player threads may still run while
// the process exits.
struct State {
  std::mutex mutex;
  std::string journal;
  std::map<std::string, Script> scripts;
  std::map<std::string, std::int64_t> options;
  std::map<std::string, FireHandler> fire;
  std::map<std::string, QueryHandler> query;
  std::vector<std::function<void()>> reset;
};

State& S() {
  static State* state = [] {
#if defined(_WIN32)
    // Once loaded, a stand-in stays loaded (as -z nodelete does on Linux): player threads and
    // callbacks may outlive the last FreeLibrary.
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&S), &self);
#endif
    return new State;
  }();
  return *state;
}

// The journal keeps the newest calls when a test feeds for long.
constexpr std::size_t kJournalLimit = 8u * 1024 * 1024;

void AppendLine(State& s, const std::string& line) {
  if (s.journal.size() + line.size() > kJournalLimit) {
    std::size_t cut = s.journal.find('\n', s.journal.size() / 2);
    s.journal.erase(0, cut == std::string::npos ? s.journal.size() : cut + 1);
  }
  s.journal += line;
}

}  // namespace

Arg Str(const char* s) { return Arg(s ? "\"" + std::string(s) + "\"" : std::string("0")); }

Arg Dbl(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", d);
  return Arg(std::string(buf));
}

std::optional<double> Enter(const char* name, std::initializer_list<Arg> args) {
  std::string line = name;
  line += '(';
  bool first = true;
  for (const Arg& a : args) {
    if (!first) line += ',';
    line += a.text;
    first = false;
  }
  line += ")\n";
  State& s = S();
  Script script;
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    AppendLine(s, line);
    auto it = s.scripts.find(name);
    if (it == s.scripts.end()) return std::nullopt;
    script = it->second;
    if (it->second.count > 0 && --it->second.count == 0) s.scripts.erase(it);
  }
  if (script.action == STANDIN_THROW) {
#if defined(_WIN32)
    // A C++ exception cannot unwind out of a DLL with its own static runtime; a vendor library
    // fails the Windows way, with a structured exception.
    RaiseException(kStandinExceptionCode, EXCEPTION_NONCONTINUABLE, 0, nullptr);
#endif
    throw std::runtime_error(std::string("scripted failure in ") + name);
  }
  if (script.action == STANDIN_FAULT) {
    // A vendor library's own bug: a store through a null pointer.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
  }
  if (script.action == STANDIN_HANG) {
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<long long>(script.value)));
    return std::nullopt;
  }
  if (script.action == STANDIN_RETURN) return script.value;
  return std::nullopt;
}

void Note(const std::string& line) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  AppendLine(s, line + "\n");
}

std::int64_t Option(const char* name, std::int64_t defaultValue) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.options.find(name);
  return it == s.options.end() ? defaultValue : it->second;
}

void SetOption(const char* name, std::int64_t value) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.options[name] = value;
}

void OnFire(const std::string& name, FireHandler handler) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.fire[name] = std::move(handler);
}

void OnQuery(const std::string& name, QueryHandler handler) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.query[name] = std::move(handler);
}

void OnReset(std::function<void()> handler) {
  State& s = S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.reset.push_back(std::move(handler));
}

}  // namespace kit

STANDIN_EXPORT int32_t Standin_ReadJournal(char* buffer, int32_t capacity) {
  kit::State& s = kit::S();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (buffer != nullptr && capacity > 0) {
    std::size_t n = std::min<std::size_t>(s.journal.size(), static_cast<std::size_t>(capacity) - 1);
    std::memcpy(buffer, s.journal.data(), n);
    buffer[n] = 0;
  }
  return static_cast<int32_t>(s.journal.size());
}

STANDIN_EXPORT void Standin_ClearJournal() {
  kit::State& s = kit::S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.journal.clear();
}

STANDIN_EXPORT void Standin_Script(const char* entry, int32_t action, double value, int32_t count) {
  if (entry == nullptr) return;
  kit::State& s = kit::S();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (action == 0 || count == 0) {
    s.scripts.erase(entry);
  } else {
    s.scripts[entry] = kit::Script{action, value, count < 0 ? -1 : count};
  }
}

STANDIN_EXPORT void Standin_SetOption(const char* name, int64_t value) {
  if (name != nullptr) kit::SetOption(name, value);
}

STANDIN_EXPORT int64_t Standin_Fire(const char* name, int64_t port, int64_t a, int64_t b) {
  if (name == nullptr) return -1;
  kit::FireHandler handler;
  {
    kit::State& s = kit::S();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.fire.find(name);
    if (it == s.fire.end()) return -1;
    handler = it->second;
  }
  return handler(port, a, b);
}

STANDIN_EXPORT int64_t Standin_Query(const char* name, int64_t port) {
  if (name == nullptr) return -1;
  kit::QueryHandler handler;
  {
    kit::State& s = kit::S();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.query.find(name);
    if (it == s.query.end()) return -1;
    handler = it->second;
  }
  return handler(port);
}

STANDIN_EXPORT void Standin_Reset() {
  std::vector<std::function<void()>> handlers;
  {
    kit::State& s = kit::S();
    std::lock_guard<std::mutex> lock(s.mutex);
    handlers = s.reset;
  }
  for (auto& h : handlers) h();
  kit::State& s = kit::S();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.journal.clear();
  s.scripts.clear();
  s.options.clear();
}
