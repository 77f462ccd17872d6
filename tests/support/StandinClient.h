// Test side of a stand-in vendor library: loads the stand-in file (through the platform's
// loader, so the library under test and the test share one instance) and wraps its Standin_*
// control functions (standins/kit/StandinControl.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "StandinControl.h"

class StandinClient {
 public:
  // `path` as the library under test loads it, e.g. ZORV_TESTROOT "/PlayDll/HIK/HikPlayM4.dll".
  explicit StandinClient(const std::string& path);
  ~StandinClient();
  StandinClient(const StandinClient&) = delete;
  StandinClient& operator=(const StandinClient&) = delete;

  bool Loaded() const { return module_ != nullptr; }

  std::string Journal() const;
  // Journal lines, without the line ends; with a prefix, only the lines that start with it
  // (e.g. "Hik_PlayM4_Play(").
  std::vector<std::string> Calls(const std::string& prefix = "") const;
  // Number of journal lines that start with the prefix.
  int Count(const std::string& prefix) const;
  void ClearJournal() const;

  void Return(const char* entry, double value, int count = -1) const;  // scripted result
  void Throw(const char* entry, int count = -1) const;
  void Fault(const char* entry, int count = -1) const;             // access violation (Win32)
  void Hang(const char* entry, int ms, int count = -1) const;      // blocks ms, then works
  void Unscript(const char* entry) const;
  void SetOption(const char* name, std::int64_t value) const;
  std::int64_t Fire(const char* name, std::int64_t port, std::int64_t a = 0, std::int64_t b = 0) const;
  std::int64_t Query(const char* name, std::int64_t port = 0) const;
  // Closes every player and clears journal, scripts and options.
  void Reset() const;

 private:
  void* module_ = nullptr;
  Standin_ReadJournal_t read_ = nullptr;
  Standin_ClearJournal_t clear_ = nullptr;
  Standin_Script_t script_ = nullptr;
  Standin_SetOption_t option_ = nullptr;
  Standin_Fire_t fire_ = nullptr;
  Standin_Query_t query_ = nullptr;
  Standin_Reset_t reset_ = nullptr;
};
