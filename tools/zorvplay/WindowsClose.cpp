// zorvplay_close: plays the user who closes the wall. Copies its input to its output (the
// zorvplay summary piped through it), and meanwhile waits for the wall window, lets it play
// DELAY_MS more, then asks it to close as the close button does.
//
//   zorvplay ... | zorvplay_close DELAY_MS
//
// Exit 0 when the close was sent, 1 when no wall window appeared within a minute.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
  const DWORD Delay = argc > 1 ? static_cast<DWORD>(std::atoi(argv[1])) : 1000;
  std::atomic<bool> Sent{false};
  std::thread Closer([&] {
    for (int Waited = 0; Waited < 60000; Waited += 20) {
      if (const HWND Wall = ::FindWindowA("ZorvPlayWall", nullptr)) {
        ::Sleep(Delay);
        Sent = ::PostMessageA(Wall, WM_CLOSE, 0, 0) != 0;
        return;
      }
      ::Sleep(20);
    }
  });
  char Buf[4096];
  for (std::size_t N; (N = std::fread(Buf, 1, sizeof Buf, stdin)) > 0;) std::fwrite(Buf, 1, N, stdout);
  std::fflush(stdout);
  Closer.join();
  if (!Sent) std::fprintf(stderr, "zorvplay_close: no wall window to close\n");
  return Sent ? 0 : 1;
}
