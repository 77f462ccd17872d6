// A PlayM4 client of the real ZorvDecoder.dll (loaded at run time, not linked) with an engine
// over the stand-in HikPlayM4.dll: opens a file on a port and drives it through typed stdcall
// calls, among them PlayM4_SetPlayPos (its double as two stack words) and PlayM4_GetPlayPos
// (the double returned on the FPU stack). Ends with "N passed, M failed".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "StandinControl.h"
#include "ZorvDecoder.h"
#include "ZrvStream.h"

namespace {

int Passed = 0, Failed = 0;

void Check(bool Ok, const char* What, double Got, double Want) {
  if (Ok) {
    ++Passed;
  } else {
    ++Failed;
    std::printf("FAILED %s: got %g, want %g\n", What, Got, Want);
  }
}

template <class Fn>
Fn Entry(HMODULE Module, const char* Name) {
  Fn F = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(Module, Name)));
  if (!F) Check(false, Name, 0, 1);
  return F;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::printf("usage: PlayM4Client <ZorvDecoder.dll> <library directory>\n0 passed, 1 failed\n");
    return 1;
  }
  HMODULE Dll = LoadLibraryA(argv[1]);
  if (!Dll) {
    std::printf("FAILED LoadLibraryA(%s)\n0 passed, 1 failed\n", argv[1]);
    return 1;
  }
  const std::string Root = std::string(argv[2]) + "\\";
  auto Initialize = Entry<decltype(&Tarn_Decode_Initialize)>(Dll, "Tarn_Decode_Initialize");
  auto ShutDown = Entry<decltype(&Tarn_Decode_ShutDown)>(Dll, "Tarn_Decode_ShutDown");
  auto OpenFile = Entry<decltype(&PlayM4_OpenFile)>(Dll, "PlayM4_OpenFile");
  auto TotalFrames = Entry<decltype(&PlayM4_GetFileTotalFrames)>(Dll, "PlayM4_GetFileTotalFrames");
  auto Pause = Entry<decltype(&PlayM4_Pause)>(Dll, "PlayM4_Pause");
  auto SetPlayPos = Entry<decltype(&PlayM4_SetPlayPos)>(Dll, "PlayM4_SetPlayPos");
  auto GetPlayPos = Entry<decltype(&PlayM4_GetPlayPos)>(Dll, "PlayM4_GetPlayPos");
  auto SetVolume = Entry<decltype(&PlayM4_SetVolume)>(Dll, "PlayM4_SetVolume");
  auto CloseFile = Entry<decltype(&PlayM4_CloseFile)>(Dll, "PlayM4_CloseFile");
  auto CloseStream = Entry<decltype(&PlayM4_CloseStream)>(Dll, "PlayM4_CloseStream");
  if (Failed) {
    std::printf("%d passed, %d failed\n", Passed, Failed);
    return 1;
  }

  Check(Initialize(0, Root.c_str(), 1) == 0, "Tarn_Decode_Initialize", 0, 0);
  zrv::StreamParams Params;
  Params.width = 32;
  Params.height = 32;
  const zrv::SyntheticStream Stream = zrv::MakeSyntheticStream(Params, 5);
  char Temp[MAX_PATH + 1] = {};
  GetTempPathA(MAX_PATH, Temp);
  const std::string File = std::string(Temp) + "zorv_playm4_client.zrv";
  Check(zrv::WriteFile(File, Stream.FileBytes()), "sample file written", 0, 1);

  Check(OpenFile(21, 1, File.c_str()) == 1, "PlayM4_OpenFile", 0, 1);
  Check(TotalFrames(21) == 5, "PlayM4_GetFileTotalFrames", TotalFrames(21), 5);
  Pause(21, 1);

  // The stand-in the library loaded: same file, same instance.
  HMODULE Hik = LoadLibraryA((Root + "PlayDll\\HIK\\HikPlayM4.dll").c_str());
  auto ReadJournal = Hik ? reinterpret_cast<Standin_ReadJournal_t>(
                               reinterpret_cast<void*>(GetProcAddress(Hik, "Standin_ReadJournal")))
                         : nullptr;
  auto Script = Hik ? reinterpret_cast<Standin_Script_t>(reinterpret_cast<void*>(GetProcAddress(Hik, "Standin_Script")))
                    : nullptr;
  Check(ReadJournal && Script, "stand-in control", 0, 1);
  if (ReadJournal && Script) {
    SetPlayPos(21, 0.375);
    std::string Journal(1 << 16, '\0');
    Journal.resize(static_cast<std::size_t>(ReadJournal(Journal.data(), static_cast<int32_t>(Journal.size()))));
    Check(Journal.find("Hik_PlayM4_SetPlayPos(") != std::string::npos &&
              Journal.find(",0.375)") != std::string::npos,
          "PlayM4_SetPlayPos passes its double", 0, 1);
    Script("Hik_PlayM4_GetPlayPos", STANDIN_RETURN, 0.625, 1);
    const double Pos = GetPlayPos(21);
    Check(Pos == 0.625, "PlayM4_GetPlayPos returns the player's position", Pos, 0.625);
    Check(SetVolume(21, 0xFFFF) == 1 || SetVolume(21, 0xFFFF) == 0, "PlayM4_SetVolume returns", 0, 0);
  }
  Check(GetPlayPos(22) == 0.0, "PlayM4_GetPlayPos of a port without stream", GetPlayPos(22), 0.0);
  CloseFile(21);
  Check(CloseStream(21) == 1, "PlayM4_CloseStream", 0, 1);
  Check(ShutDown() == 0, "Tarn_Decode_ShutDown", 0, 0);
  Check(GetPlayPos(21) == 0.0, "PlayM4_GetPlayPos without engine", GetPlayPos(21), 0.0);
  DeleteFileA(File.c_str());
  std::printf("%d passed, %d failed\n", Passed, Failed);
  return Failed ? 1 : 0;
}
