// Fuzz target "mp4": MPEG-4 frames through the MPEG-4 adapter (DVR type 13) and libavcodec.
//
// Input: units, each [kind byte][24-bit little-endian length][bytes]. The first unit is the
// stream's file head (the configuration header); the others are data frames. Bits of the kind
// byte: 0x80 take a snapshot after the unit, 0x40 switch the host decode callback on (or off
// when it is on), the low three bits the frame type (0 and 1 mean an I frame). The seeds are
// the sample streams cut at their frame index (fuzz/make_seeds.py).
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "U_DecodeEngine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzProcessSetUp();
  if (!DecodeEngine()) Tarn_Decode_Initialize(0, FuzzLibDir().c_str(), 1);
  TFuzzInput In(Data, Size);
  TFrameHead Head;
  std::memset(&Head, 0, sizeof Head);
  Head.Group = 1;
  Head.Channel = 7;
  Head.DvrType = 13;
  Head.DecodeMode = 2;
  bool CallBack = false;
  for (int Unit = 0; Unit < 256 && !In.Empty(); ++Unit) {
    const std::uint8_t Kind = In.U8();
    std::uint32_t Length = In.U8();
    Length |= static_cast<std::uint32_t>(In.U8()) << 8;
    Length |= static_cast<std::uint32_t>(In.U8()) << 16;
    if (Length > In.Remaining()) Length = static_cast<std::uint32_t>(In.Remaining());
    std::unique_ptr<std::uint8_t[]> Frame(new std::uint8_t[Length ? Length : 1]);
    In.Bytes(Frame.get(), Length);
    const std::uint8_t Type = Kind & 7;
    Head.FrameType = Unit == 0 ? std::uint8_t{ZORV_FRAME_FILEHEAD} : static_cast<std::uint8_t>(Type < 2 ? std::uint8_t{ZORV_FRAME_I} : Type);
    Head.DataLen = Length;
    const std::int32_t Result = Tarn_Decode_AddFrame(Head, Frame.get());
    // A data frame is taken whatever the decoder makes of it (and dropped, still 0, when the
    // file head did not open the stream).
    FUZZ_CHECK(Result == 0 || (Unit == 0 && Result == -1), Result, Unit);
    if (Kind & 0x40) {
      if (CallBack)
        FUZZ_CHECK(Tarn_Decode_StopCallBack(Head) == -1);
      else
        FUZZ_CHECK(Tarn_Decode_StartCallBack(Head, FuzzHostCallBack) == 0);
      CallBack = !CallBack;
    }
    if (Kind & 0x80) FuzzSnapAndCheck(Head);
  }
  if (CallBack) Tarn_Decode_StopCallBack(Head);
  Tarn_Decode_CloseOneChannel(Head);
  FuzzCloseEverything();
  return 0;
}
