// Fuzz target "api": the life cycle in any order: initialise (with the test tree, a directory
// that holds no vendor library, or none), open, feed, snapshot, close and shut down, as a
// client might get them wrong. Every input starts and ends without an engine.
//
// Input: operation bytes, each followed by what the operation takes (a channel byte, a DVR
// type byte, a length byte and data). Without an engine every call must answer its fixed
// "no engine" value and nothing may happen.
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "U_DecodeEngine.h"

namespace {

struct TSession {
  TFrameHead Head(TFuzzInput& In) {
    TFrameHead H;
    std::memset(&H, 0, sizeof H);
    const std::uint8_t C = In.U8();
    H.Group = static_cast<std::uint8_t>(C % 5);
    H.Channel = (C >> 3) % 4;
    if (C == 0xFF) H.Group = 255;
    if (C == 0xFE) H.Channel = 65535;
    H.DvrType = FuzzDvrType(In.U8());
    H.DecodeMode = 2;
    return H;
  }

  void Feed(TFuzzInput& In, TFrameHead H, std::uint8_t FrameType) {
    const std::size_t Asked = In.U8();
    const std::size_t Length = Asked % (In.Remaining() + 1);
    std::unique_ptr<std::uint8_t[]> Data(new std::uint8_t[Length ? Length : 1]);
    In.Bytes(Data.get(), Length);
    H.FrameType = FrameType;
    H.DataLen = static_cast<std::uint32_t>(Length);
    const std::int32_t R = Tarn_Decode_AddFrame(H, Data.get());
    if (!DecodeEngine()) FUZZ_CHECK(R == -1, R);
  }

  void Run(TFuzzInput& In) {
    for (int Ops = 0; Ops < 32 && !In.Empty(); ++Ops) {
      const std::uint8_t Op = In.U8();
      const bool Engine = DecodeEngine() != nullptr;
      switch (Op % 12) {
        case 0: {
          static const std::string Empty = FuzzTempPath("emptydir/");
          const std::uint8_t Which = In.U8();
          const std::string Dir = Which % 3 == 0 ? FuzzLibDir() : Empty;
          const char* Path = Which % 3 == 2 ? nullptr : Dir.c_str();
          FUZZ_CHECK(((Which & 4) ? Tarn_Decode_InitializeH3(Path, 1) : Tarn_Decode_Initialize(0, Path, 1)) == 0);
          FUZZ_CHECK(DecodeEngine() != nullptr);
          break;
        }
        case 1:
          FUZZ_CHECK(((In.U8() & 1) ? Tarn_Decode_ShutDownH3() : Tarn_Decode_ShutDown()) == 0);
          FUZZ_CHECK(DecodeEngine() == nullptr);
          break;
        case 2: {
          const TFrameHead H = Head(In);
          Feed(In, H, ZORV_FRAME_FILEHEAD);
          break;
        }
        case 3:
        case 4: {
          const TFrameHead H = Head(In);
          const std::uint8_t FrameType = static_cast<std::uint8_t>(2 + In.U8() % 6);
          Feed(In, H, FrameType);
          break;
        }
        case 5: {
          const std::int32_t R = Tarn_Decode_CloseOneChannel(Head(In));
          FUZZ_CHECK(R == 0 || R == -1, R);
          if (!Engine) FUZZ_CHECK(R == -1, R);
          break;
        }
        case 6: {
          const std::int32_t R = FuzzSnapAndCheck(Head(In));
          if (!Engine) FUZZ_CHECK(R == -1, R);
          break;
        }
        case 7: {
          const TFrameHead H = Head(In);
          const std::int32_t R = Tarn_Decode_StartCallBack(H, FuzzHostCallBack);
          const bool Valid = H.Group < 5 && H.Channel < 100;
          FUZZ_CHECK(R == (Engine && Valid ? 0 : -1), R);
          break;
        }
        case 8:
          FUZZ_CHECK(Tarn_Decode_StopCallBack(Head(In)) == -1);
          break;
        case 9: {
          const TFrameHead H = Head(In);
          const std::int32_t Port = static_cast<std::int32_t>(H.Channel);
          const std::int32_t R = PlayM4_SetDecCallBack(Port, FuzzPlayM4CallBack);
          if (!Engine) FUZZ_CHECK(R == 0, R);
          PlayM4_Play(Port, 0);
          if (!Engine) {
            FUZZ_CHECK(PlayM4_SetVolume(Port, 3) == 1);
            FUZZ_CHECK(PlayM4_SetColor(Port, 0, 0, 0, 0, 0) == -1);
            FUZZ_CHECK(PlayM4_GetPlayPos(Port) == 0.0);
            FUZZ_CHECK(PlayM4_Stop(Port) == 0);
          }
          break;
        }
        case 10: {
          const TFrameHead H = Head(In);
          const std::size_t Asked = In.U8();
          const std::size_t Length = Asked % (In.Remaining() + 1);
          std::unique_ptr<std::uint8_t[]> Data(new std::uint8_t[Length ? Length : 1]);
          In.Bytes(Data.get(), Length);
          const std::int32_t Port = static_cast<std::int32_t>(H.Channel);
          if (In.U8() & 1) {
            const std::int32_t R = PlayM4_OpenStream(Port, H.DvrType, Data.get(), static_cast<std::uint32_t>(Length), 0);
            if (!Engine) FUZZ_CHECK(R == 0, R);
          } else {
            const std::int32_t R = PlayM4_InputData(Port, Data.get(), static_cast<std::uint32_t>(Length));
            if (!Engine) FUZZ_CHECK(R == 0, R);
          }
          break;
        }
        default: {
          const TFrameHead H = Head(In);
          Tarn_Decode_PlaySound(H);
          Tarn_Decode_StopSound(H);
          FUZZ_CHECK(PlayM4_CloseStream(static_cast<std::int32_t>(H.Channel)) == 0 || Engine);
          break;
        }
      }
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzProcessSetUp();
  Tarn_Decode_ShutDown();
  TFuzzInput In(Data, Size);
  TSession Session;
  Session.Run(In);
  if (DecodeEngine()) FuzzCloseEverything();
  FUZZ_CHECK(Tarn_Decode_ShutDown() == 0);
  FUZZ_CHECK(Tarn_Decode_ShutDown() == 0);
  return 0;
}
