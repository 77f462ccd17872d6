#include "U_DecodeHuaYu.h"

#include <cstring>

#include "U_DecodeEngine.h"
#include "U_DrawYuv.h"

static_assert(GroupCount * ChannelsPerGroup <= PlayerCount, "one snapshot entry per display channel");

TDecodeHuaYu::TDecodeHuaYu() { TDecodeHuaYu::Create(); }

void TDecodeHuaYu::Create() {
  TDecodeBase::Create();
  ResetCapTable(FCapSlots);
  for (auto& Row : FSlots)
    for (TChannelSlot& Slot : Row) {
      std::lock_guard<std::mutex> Hold(Slot.Lock);
      Slot.DrawHandle = 0;
      Slot.Info = {};
      Slot.Info.FrameKind = 1;
      Slot.Info.DvrType = DvrTypeCode;
    }
  FSpare = 0;
}

TDecodeHuaYu::~TDecodeHuaYu() {
  for (auto& Row : FSlots)
    for (TChannelSlot& Slot : Row) {
      std::lock_guard<std::mutex> Hold(Slot.Lock);
      std::vector<std::uint8_t>().swap(Slot.PicBuf);
      if (Slot.DrawHandle != 0 && YUVToScreen) YUVToScreen->FreeDraw(Slot.DrawHandle);
      Slot.DrawHandle = 0;
    }
  StopWaveOutput();
  UnloadDllFiles();
}

std::int32_t TDecodeHuaYu::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  if (LoadDecoderLibrary(Dir + "PlayDll\\HuaYu\\") != 0) return -1;
  StartWaveOutput();
  FState = 2;
  return 0;
}

std::int32_t TDecodeHuaYu::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) == -1 || Player < 0) return -1;
  const std::uint32_t Decoder = CreateDecoder(VideoCodec);
  if (Decoder == 0) {
    // No decoder, no pictures: the open fails rather than take a stream it cannot show.
    ReleasePlayer(Head);
    return -1;
  }
  TPlayerInfo& Info = FPlayers[Player];
  Info.Port = Decoder;
  {
    TChannelSlot& Slot = SlotOf(Head);
    std::lock_guard<std::mutex> Hold(Slot.Lock);
    if (YUVToScreen) {
      if (Slot.DrawHandle != 0) YUVToScreen->FreeDraw(Slot.DrawHandle);
      Slot.DrawHandle = YUVToScreen->InitDraw(Head.Wnd);
    }
    Slot.Decoder = Decoder;
  }
  Info.OpenState = 2;
  Info.OpenKind = DvrTypeCode;
  Info.Group = Head.Group;
  Info.Wnd = Head.Wnd;
  WriteLog("--------------------" + std::to_string(-1));
  Info.HasAudio = 1;
  // The decoder reads the stream's header from the file head.
  InputData(Head, Data);
  return 0;
}

std::int32_t TDecodeHuaYu::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  if (!FindPlayer(Head)) return -1;
  ReconcileCallBack(Head);
  if (Head.FrameType == ZORV_FRAME_AUDIO) {
    PlayAudio(Head, Data);
    return 0;
  }
  // Pictures go to the host for as long as its callback runs on the channel.
  TChannelState Channel;
  if (TDecodeEngine* Engine = DecodeEngine()) Engine->GetChannelState(Head.Group, Head.Channel, Channel);
  return DecodeVideo(Head, SlotOf(Head), Data, Channel.CallBackState == 2);
}

void TDecodeHuaYu::PlayAudio(TFrameHead& Head, const std::uint8_t* Data) {
  PlaySound(Head);
  const TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || Info->SoundState != 2) return;
  if (FWaveOut && Data && Head.DataLen > 0) {
    // The wave output owns the copy from here on.
    auto* Copy = new std::uint8_t[Head.DataLen];
    std::memcpy(Copy, Data, Head.DataLen);
    FWaveOut->Write(Copy, Head.DataLen);
  }
  Win::Sleep(1);
}

std::int32_t TDecodeHuaYu::DecodeVideo(TFrameHead& Head, TChannelSlot& Slot, const std::uint8_t* Data,
                                       bool CallBack) {
  std::lock_guard<std::mutex> Hold(Slot.Lock);
  const TPlayerInfo* Info = FindPlayer(Head);
  // A stream closed while this frame waited for the channel has no decoder to feed any more.
  if (!Info || Slot.Decoder == 0 || static_cast<std::int64_t>(Slot.Decoder) != Info->Port) return -1;
  if (Slot.PicBuf.empty()) Slot.PicBuf.assign(PictureBufferBytes, 0);
  std::uint8_t* Picture = Slot.PicBuf.data();
  const std::int32_t Result = DecodeFrame(Slot.Decoder, Data, Head.DataLen, Picture);
  Slot.Info.Size = static_cast<std::uint32_t>(Result);
  if (Head.FrameType == ZORV_FRAME_FILEHEAD) {
    std::int32_t Width = 0, Height = 0;
    AskPictureSize(Slot.Decoder, Width, Height);
    Slot.Info.Width = static_cast<std::uint32_t>(Width);
    Slot.Info.Height = static_cast<std::uint32_t>(Height);
  }
  // Only a decoded picture is shown: a refusal (negative) or a frame that gave no picture (0,
  // such as the file head) would show a stale buffer, and a size past the buffer would be read
  // beyond it.
  const auto Width = static_cast<std::int32_t>(Slot.Info.Width);
  const auto Height = static_cast<std::int32_t>(Slot.Info.Height);
  if (Result <= 0 || static_cast<std::size_t>(Result) > Slot.PicBuf.size() ||
      !SHXPictureFits(Width, Height, Slot.PicBuf.size()))
    return Result;

  ServeSnapshot(CapOf(Head), Picture, Width, Height);
  if (CallBack)
    DeliverToChannel(DvrTypeCode, Head.Group, Head.Channel, Picture, Slot.Info.Size, Slot.Info.Width,
                     Slot.Info.Height);
  if (Slot.DrawHandle != 0 && YUVToScreen)
    YUVToScreen->DrawPic(Slot.DrawHandle, Picture, Result, Width, Height, 0, 0);
  return Result;
}

std::int32_t TDecodeHuaYu::StopSound(TFrameHead& Head) {
  return DoStopSound(Head, [](TPlayerInfo&) {});
}

std::int32_t TDecodeHuaYu::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  if (!FindPlayer(Head)) return -1;
  return SnapThroughTempFile(CapOf(Head), Size, Buffer);
}

std::int32_t TDecodeHuaYu::CloseStream(TFrameHead& Head) {
  if (!FindPlayer(Head)) return -1;
  if (ClearBuffer(Head) == -1) return -1;
  {
    TChannelSlot& Slot = SlotOf(Head);
    std::lock_guard<std::mutex> Hold(Slot.Lock);
    DestroyDecoder(Slot.Decoder);
    Slot.Decoder = 0;
    if (YUVToScreen) YUVToScreen->FreeDraw(Slot.DrawHandle);
    Slot.DrawHandle = 0;
  }
  return TDecodeBase::CloseStream(Head);
}
