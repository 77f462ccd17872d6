#include "SnapTempFiles.h"

#include <filesystem>

#include "Platform.h"

std::set<std::string> SnapTempFiles() {
  char Dir[Win::MAX_PATH + 1] = {};
  std::set<std::string> Names;
  if (Win::GetTempPathA(Win::MAX_PATH, Dir) == 0) return Names;
  std::error_code Error;
  for (const auto& Entry : std::filesystem::directory_iterator(Win::NativePath(Dir), Error)) {
    const std::string Name = Entry.path().filename().string();
    if (Name.rfind("~BM", 0) == 0) Names.insert(Name);
  }
  return Names;
}
