#include "U_WaveOut.h"

#include <new>

TWaveOut::~TWaveOut() { Close(); }

Win::WAVEHDR* TWaveOut::NewHeader(std::uint8_t* Data, std::uint32_t Size) {
  auto* Header = new (std::nothrow) Win::WAVEHDR{};
  if (!Header) return nullptr;
  Header->lpData = reinterpret_cast<char*>(Data);
  Header->dwBufferLength = Size;
  Header->dwBytesRecorded = Size;
  return Header;
}

void TWaveOut::ReleaseHeader(Win::WAVEHDR* Header) {
  if (!Header) return;
  delete[] reinterpret_cast<std::uint8_t*>(Header->lpData);
  delete Header;
}

std::int32_t TWaveOut::Write(std::uint8_t* Data, std::uint32_t Size) {
  if (!FOpened) {
    delete[] Data;
    return 0;
  }
  Win::WAVEHDR* Header = NewHeader(Data, Size);
  if (!Header) {
    delete[] Data;
    return 0;
  }
  // Counted as handed over before the device sees it: its done notification may come at once.
  ++FPending;
  if (Win::waveOutPrepareHeader(FHandle, Header, WaveHeaderSize) != 0) {
    ReleaseHeader(Header);
    --FPending;
    return 0;
  }
  if (Win::waveOutWrite(FHandle, Header, WaveHeaderSize) != 0) {
    Win::waveOutUnprepareHeader(FHandle, Header, WaveHeaderSize);
    ReleaseHeader(Header);
    --FPending;
  }
  return 0;
}

bool TWaveOut::Close() {
  if (!FOpened) return true;
  Win::waveOutReset(FHandle);
  if (Win::waveOutClose(FHandle) != 0) return false;
  FHandle = 0;
  FOpened = false;
  return true;
}

void TWaveOut::ReleaseDone(Win::HWAVEOUT Device, Win::WAVEHDR* Header) {
  if (!Header) return;
  Win::waveOutUnprepareHeader(Device, Header, WaveHeaderSize);
  ReleaseHeader(Header);
  --FPending;
}
