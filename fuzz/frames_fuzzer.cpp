// Fuzz target "frames": sequences of [37-byte head][data] records into Tarn_Decode_AddFrame,
// against every adapter of the registry (the stand-in vendor libraries and the MPEG-4
// decoder), with control calls, PlayM4 calls and snapshots mixed in.
//
// Input: records, each an operation byte and what it needs:
//   frame:   37 head bytes, a shaping byte, a 16-bit length, that many data bytes
//            (the data is handed over in a buffer of exactly that length);
//   control: a channel byte and what the call takes.
// One engine serves the whole run; every input ends with all channels closed, and then no
// adapter may keep a player entry.
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "U_DecodeEngine.h"

namespace {

// Heads mostly name a few channels of the tables, so that frames meet the streams earlier
// records opened; some keep whatever the input says.
TFrameHead ReadHead(TFuzzInput& In) {
  TFrameHead Head;
  In.Bytes(&Head, sizeof Head);
  const std::uint8_t Shape = In.U8();
  if ((Shape & 0x80) == 0) {
    Head.Group %= 5;
    Head.Channel %= 6;
    Head.DvrType = FuzzDvrType(Head.DvrType);
    if ((Shape & 0x40) == 0) Head.FrameType = static_cast<std::uint8_t>((Head.FrameType + 6) % 7 + 1);
    if ((Shape & 0x20) == 0) Head.Wnd = 0;
    if ((Shape & 0x10) == 0) Head.DecodeMode = 2;
  }
  return Head;
}

TFrameHead ChannelHead(TFuzzInput& In) {
  TFrameHead Head;
  std::memset(&Head, 0, sizeof Head);
  const std::uint8_t C = In.U8();
  Head.Group = static_cast<std::uint8_t>(C % 5);
  Head.Channel = (C >> 3) % 6;
  if (C == 0xFF) Head.Group = 255;
  if (C == 0xFE) Head.Channel = 65535;
  Head.DecodeMode = 2;
  Head.DvrType = FuzzDvrType(In.U8());
  return Head;
}

bool InTables(const TFrameHead& Head) { return Head.Group < 5 && Head.Channel < 100; }

void Frame(TFuzzInput& In) {
  TFrameHead Head = ReadHead(In);
  const std::uint8_t Mode = In.U8();
  const std::size_t Asked = In.U16();
  const std::size_t Length = Asked % (In.Remaining() + 1);
  std::int32_t Result;
  if ((Mode & 7) == 0) {
    // Null data with a length that cannot be read: always refused.
    static const std::uint32_t Lengths[] = {1, 0x7FFFFFFFu, 0xFFFFFFFFu, 40};
    Head.DataLen = Lengths[(Mode >> 3) & 3];
    Result = Tarn_Decode_AddFrame(Head, nullptr);
    FUZZ_CHECK(Result == -1, Result);
    return;
  }
  // The data in a buffer of exactly DataLen bytes, so a read past it is seen.
  std::unique_ptr<std::uint8_t[]> Data(new std::uint8_t[Length ? Length : 1]);
  In.Bytes(Data.get(), Length);
  Head.DataLen = static_cast<std::uint32_t>(Length);
  Result = Tarn_Decode_AddFrame(Head, Length || (Mode & 8) ? Data.get() : nullptr);
  if (!InTables(Head) || Head.FrameType < 1 || Head.FrameType > 7) FUZZ_CHECK(Result == -1, Result);
}

void Control(TFuzzInput& In, std::uint8_t Op) {
  TFrameHead Head = ChannelHead(In);
  const bool Valid = InTables(Head);
  const std::int32_t Port = static_cast<std::int32_t>(Head.Channel);
  std::int32_t R = 0;
  switch (Op % 20) {
    case 0:
      R = Tarn_Decode_StartCallBack(Head, FuzzHostCallBack);
      FUZZ_CHECK(R == (Valid ? 0 : -1), R);
      break;
    case 1:
      R = Tarn_Decode_StopCallBack(Head);
      FUZZ_CHECK(R == -1, R);
      break;
    case 2:
      R = Tarn_Decode_PlaySound(Head);
      FUZZ_CHECK(R == (Valid ? 0 : -1), R);
      break;
    case 3:
      R = Tarn_Decode_StopSound(Head);
      FUZZ_CHECK(R == (Valid ? 0 : -1), R);
      break;
    case 4:
      R = Tarn_Decode_CloseOneChannel(Head);
      FUZZ_CHECK(R == 0 || R == -1, R);
      break;
    case 5:
      FuzzSnapAndCheck(Head);
      break;
    case 6:
      Tarn_Decode_ClearBuffer(Head);
      Tarn_Decode_RefrushWindow(Head);
      Tarn_Decode_ResetDisplay(Head, static_cast<std::int32_t>(In.U32()));
      break;
    case 7:
      R = Tarn_Decode_Pause(&Head, In.U8() & 1);
      FUZZ_CHECK(R == 0 || R == -1, R);
      break;
    case 8:
      Tarn_Decode_StartAviRecord(Head, 0);
      Tarn_Decode_StopAviRecord(Head);
      FUZZ_CHECK(Tarn_Decode_SetPlayMode(Head, 1) == -1);
      break;
    case 9:
      R = PlayM4_SetDecCallBack(Port, (In.U8() & 1) ? FuzzPlayM4CallBack : nullptr);
      FUZZ_CHECK(R == 0 || R == 1, R);
      break;
    case 10: {
      R = PlayM4_Play(Port, 0);
      FUZZ_CHECK(R == (Port < 100 ? 1 : 0), R);
      break;
    }
    case 11: {
      const std::size_t Asked = In.U8();
      const std::size_t Length = Asked % (In.Remaining() + 1);
      std::unique_ptr<std::uint8_t[]> Data(new std::uint8_t[Length ? Length : 1]);
      In.Bytes(Data.get(), Length);
      R = PlayM4_InputData(Port, Data.get(), static_cast<std::uint32_t>(Length));
      FUZZ_CHECK(R == 0 || R == 1, R);
      break;
    }
    case 12: {
      const std::size_t Asked = In.U8();
      const std::size_t Length = Asked % (In.Remaining() + 1);
      std::unique_ptr<std::uint8_t[]> Data(new std::uint8_t[Length ? Length : 1]);
      In.Bytes(Data.get(), Length);
      R = PlayM4_OpenStream(Port, Head.DvrType, Data.get(), static_cast<std::uint32_t>(Length), 0);
      FUZZ_CHECK(R == 0 || R == 1, R);
      break;
    }
    case 13:
      R = (In.U8() & 1) ? PlayM4_Stop(Port) : PlayM4_CloseStream(Port);
      FUZZ_CHECK(R == 0 || R == 1, R);
      break;
    case 14: {
      static const std::string Shot = FuzzTempPath("shot.bmp");
      PlayM4_SnapPicture(Port, Shot.c_str());
      break;
    }
    case 15: {
      std::int32_t B = 0, C = 0, S = 0, H = 0;
      PlayM4_SetColor(Port, 0, 1, 2, 3, 4);
      PlayM4_GetColor(Port, 0, &B, &C, &S, &H);
      PlayM4_SetVolume(Port, In.U16());
      PlayM4_SetStreamOpenMode(Port, In.U8());
      break;
    }
    case 16:
      PlayM4_PlaySound(Port);
      PlayM4_StopSound(Port);
      PlayM4_Pause(Port, 1);
      PlayM4_Fast(Port);
      PlayM4_Slow(Port);
      PlayM4_OneByOne(Port);
      PlayM4_SetPlayPos(Port, 0.5);
      PlayM4_GetPlayPos(Port);
      PlayM4_GetFileTime(Port);
      PlayM4_GetPlayedTime(Port);
      PlayM4_GetPlayedFrames(Port);
      PlayM4_GetFileTotalFrames(Port);
      PlayM4_GetCurrentFrameRate(Port);
      PlayM4_GetPlayedTimeEx(Port);
      PlayM4_SetPlayedTimeEx(Port, 5);
      PlayM4_GetCurrentFrameNum(Port);
      PlayM4_CloseFile(Port);
      break;
    case 17: {
      TFrameHeadH3 H3;
      std::memset(&H3, 0, sizeof H3);
      H3.Channel = Head.Channel;
      H3.Group = Head.Group;
      H3.DvrType = Head.DvrType;
      H3.DecodeMode = 2;
      for (auto& Word : H3.FrameStamp) Word = In.U16();
      Tarn_Decode_ClearBufferH3(H3);
      Tarn_Decode_PlaySoundH3(H3);
      FUZZ_CHECK(Tarn_Decode_StopCallBackH3(H3) == -1);
      break;
    }
    case 18: {
      // Sizes of a hardware channel that no card serves: refused, whatever the values.
      Head.HardIndex = static_cast<std::uint8_t>(In.U8() % 6);
      Head.DecodeMode = 1;
      Head.HardChannel = In.U32();
      Tarn_Decode_SetDecoderVideoExtOutput(Head, 1, 2, 3, 4, 5, 6);
      Tarn_Decode_SetDisplayRegion(Head, 1, 2, nullptr, 4);
      std::int32_t A = 0, B = 0;
      Tarn_Decode_OutParm(Head.HardIndex, &A, &B);
      break;
    }
    default: {
      static const std::string Missing = FuzzTempPath("no-such-file.zrv");
      R = PlayM4_OpenFile(Port, Head.DvrType, Missing.c_str());
      FUZZ_CHECK(R == 0, R);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzProcessSetUp();
  if (!DecodeEngine()) Tarn_Decode_Initialize(0, FuzzLibDir().c_str(), 1);
  TFuzzInput In(Data, Size);
  for (int Records = 0; Records < 48 && !In.Empty(); ++Records) {
    const std::uint8_t Op = In.U8();
    if (Op < 0x60)
      Frame(In);
    else
      Control(In, Op);
  }
  FuzzCloseEverything();
  return 0;
}
