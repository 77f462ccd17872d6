// A system temporary directory of the test's own: while a TPrivateTempDir lives, the platform's
// GetTempPathA names a fresh, empty directory (TMPDIR; on Windows TMP and TEMP), so that what a
// test leaves there is told apart from the files of programs running beside it. The directory
// and everything in it go when it ends; the variables get their old values back.
#pragma once

#include <string>
#include <vector>

class TPrivateTempDir {
 public:
  TPrivateTempDir();
  ~TPrivateTempDir();
  TPrivateTempDir(const TPrivateTempDir&) = delete;
  TPrivateTempDir& operator=(const TPrivateTempDir&) = delete;

  const std::string& Path() const { return FPath; }

 private:
  struct TSaved {
    std::string Name;
    bool Had = false;
    std::string Value;
  };
  std::string FPath;
  std::vector<TSaved> FSaved;
};
