// TWaveOut: a queue of PCM buffers over a wave-out device.
//
// Nothing in the library opens a device, so a TWaveOut stays closed for its whole life: every
// buffer handed to it is released at once and no sound is produced. The queueing path is what
// the class does for an open device: each buffer travels with a 32-byte WAVEHDR until the
// device reports it done (MM_WOM_DONE on the TWaveOutThread), which releases both.
#pragma once

#include <atomic>
#include <cstdint>

#include "Platform.h"

// Message the wave-out device posts when it has played a buffer (wParam device, lParam header).
constexpr Win::UINT MM_WOM_DONE = 957;
// Header size passed to every wave-out call.
constexpr Win::UINT WaveHeaderSize = 32;

class TWaveOut {
 public:
  TWaveOut() = default;
  ~TWaveOut();
  TWaveOut(const TWaveOut&) = delete;
  TWaveOut& operator=(const TWaveOut&) = delete;

  // Takes ownership of Data (Size bytes of PCM, allocated with new[]) and queues it on the
  // device; on a closed device, or when the device refuses it, the buffer is released at once.
  // Returns 0.
  std::int32_t Write(std::uint8_t* Data, std::uint32_t Size);
  // True when the device is (now) closed; false when closing failed (the device stays open).
  bool Close();

  // A buffer the device has played: unprepares the header, releases it and its data, and
  // counts it off. Called on the TWaveOutThread.
  void ReleaseDone(Win::HWAVEOUT Device, Win::WAVEHDR* Header);

  bool Opened() const { return FOpened; }
  // Buffers handed to the device and not yet reported done.
  std::int32_t Pending() const { return FPending.load(); }

  // A header for Data as the device wants it (every other field 0); released by ReleaseHeader.
  static Win::WAVEHDR* NewHeader(std::uint8_t* Data, std::uint32_t Size);
  static void ReleaseHeader(Win::WAVEHDR* Header);

 protected:
  // Used by an opening path (none in the library; tests take it to drive an open device).
  void Attach(Win::HWAVEOUT Handle) {
    FHandle = Handle;
    FOpened = true;
  }

 private:
  bool FOpened = false;
  Win::HWAVEOUT FHandle = 0;
  std::atomic<std::int32_t> FPending{0};
};
