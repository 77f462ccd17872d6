// Replay driver: runs a fuzz target over every file of the corpus directories (or files) named
// on the command line, without libFuzzer, so the normal builds (natively and under Wine) check
// that the committed corpora and reproducers still pass. A failing input aborts the process
// (the target's check, or a fault); the last "replay:" line names it.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "ZorvDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  std::vector<fs::path> Files;
  for (int i = 1; i < argc; ++i) {
    const fs::path Path(argv[i]);
    std::error_code Error;
    if (fs::is_directory(Path, Error)) {
      for (const auto& Entry : fs::recursive_directory_iterator(Path, Error))
        if (Entry.is_regular_file() && Entry.path().filename().string()[0] != '.') Files.push_back(Entry.path());
    } else if (fs::is_regular_file(Path, Error)) {
      Files.push_back(Path);
    } else {
      std::fprintf(stderr, "replay: %s is neither a file nor a directory\n", argv[i]);
      return 2;
    }
  }
  std::sort(Files.begin(), Files.end());
  int Passed = 0;
  for (const fs::path& File : Files) {
    std::ifstream Stream(File, std::ios::binary);
    std::vector<std::uint8_t> Bytes((std::istreambuf_iterator<char>(Stream)), std::istreambuf_iterator<char>());
    std::printf("replay: %s (%zu bytes)\n", File.string().c_str(), Bytes.size());
    std::fflush(stdout);
    // Copied into a buffer of exactly the input's size, as libFuzzer hands it over.
    std::vector<std::uint8_t> Input(Bytes);
    LLVMFuzzerTestOneInput(Input.empty() ? nullptr : Input.data(), Input.size());
    ++Passed;
  }
  Tarn_Decode_ShutDown();
  std::printf("replay: %llu pictures reached the host callbacks\n", static_cast<unsigned long long>(FuzzPicturesSeen()));
  std::printf("%d passed, 0 failed\n", Passed);
  return Passed > 0 ? 0 : 3;
}
