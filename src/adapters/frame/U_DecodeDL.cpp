#include "U_DecodeDL.h"

#include <cstring>

#include "U_DecodeEngine.h"

namespace {
// The host's picture from the planes a decoded frame points to: luma Width x Height, then the
// two chroma planes of Width x Height / 4 bytes each. False (Picture empty) when the record
// holds no believable picture.
bool CopyPicture(const TDLFrameOut& Out, std::int32_t MaxDimension, std::vector<std::uint8_t>& Picture,
                 std::uint32_t& Width, std::uint32_t& Height) {
  Picture.clear();
  const std::int32_t W = Out.Width;
  const std::int32_t H = Out.Height;
  if (W <= 0 || H <= 0 || W > MaxDimension || H > MaxDimension) return false;
  if (!Out.Y || !Out.U || !Out.V) return false;
  const std::size_t Luma = static_cast<std::size_t>(W) * H;
  const std::size_t Quarter = Luma / 4;
  if (Quarter == 0) return false;
  const std::size_t ChromaWidth = static_cast<std::size_t>(W / 2);
  const std::size_t ChromaRows = static_cast<std::size_t>(H / 2);
  const std::size_t LumaPitch = Out.LumaPitch > 0 ? static_cast<std::size_t>(Out.LumaPitch) : W;
  const std::size_t ChromaPitch = Out.ChromaPitch > 0 ? static_cast<std::size_t>(Out.ChromaPitch) : ChromaWidth;
  if (LumaPitch < static_cast<std::size_t>(W) || ChromaPitch < ChromaWidth) return false;
  // Size is Luma * 3 / 2; with odd dimensions the chroma rows cover a little less than their
  // quarter, and the rest stays zero.
  Picture.assign(Luma * 3 / 2, 0);
  std::uint8_t* To = Picture.data();
  for (std::int32_t Row = 0; Row < H; ++Row) std::memcpy(To + Row * static_cast<std::size_t>(W), Out.Y + Row * LumaPitch, W);
  const std::uint8_t* Planes[2] = {Out.U, Out.V};
  for (int Plane = 0; Plane < 2; ++Plane) {
    std::uint8_t* Chroma = To + Luma + Plane * Quarter;
    for (std::size_t Row = 0; Row < ChromaRows; ++Row)
      std::memcpy(Chroma + Row * ChromaWidth, Planes[Plane] + Row * ChromaPitch, ChromaWidth);
  }
  Width = static_cast<std::uint32_t>(W);
  Height = static_cast<std::uint32_t>(H);
  return true;
}
}  // namespace

TDecodeDL::TDecodeDL() { Create(); }

void TDecodeDL::Create() {
  TDecodeBase::Create();
  FSpare = 0;
}

// Decoders still open when the adapter goes are destroyed before their library is unloaded.
TDecodeDL::~TDecodeDL() {
  for (TDecoderSlot& Slot : FDecoders) {
    std::lock_guard<std::mutex> Hold(Slot.Lock);
    if (Slot.Open && FDestroyDecoder) GuardedCall([&] { FDestroyDecoder(Slot.Handle); });
    Slot.Open = false;
  }
  UnloadDllFiles();
}

std::int32_t TDecodeDL::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  if (LoadDllFiles(Dir + "PlayDll\\DL\\", {"decoder.dll", "DLLDECODER.dll"}) != 0) return -1;
  ZORV_BIND_ENTRIES(DL_ENTRIES, MainModule());
  FState = 2;
  return 0;
}

template <class F>
bool TDecodeDL::WithDecoder(std::int32_t Player, std::uint32_t Handle, F&& Call) {
  if (Player < 0 || Player >= PlayerCount) return false;
  TDecoderSlot& Slot = FDecoders[Player];
  std::lock_guard<std::mutex> Hold(Slot.Lock);
  if (!Slot.Open || Slot.Handle != Handle) return false;
  Call(Handle);
  return true;
}

bool TDecodeDL::StillOpen(const TFrameHead& Head, std::int32_t Player) const {
  return PlayerOf(Head) == Player && FPlayers[Player].Port != -1;
}

std::int32_t TDecodeDL::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) < 0) return -1;
  std::uint32_t Handle = 0;
  bool Opened = false;
  if (FOpenDecoder) Opened = GuardedCall([&] { Handle = FOpenDecoder(Head.Wnd, Data, Head.DataLen); });
  // No decoder (no entry point, a fault, or no handle): the player is given back, nothing is
  // fed to a handle the library never made.
  if (!Opened || Handle == 0) {
    ReleasePlayer(Head);
    return -1;
  }
  {
    TDecoderSlot& Slot = FDecoders[Player];
    std::lock_guard<std::mutex> Hold(Slot.Lock);
    Slot.Handle = Handle;
    Slot.Open = true;
  }
  TPlayerInfo& Info = FPlayers[Player];
  Info.Port = static_cast<std::int64_t>(Handle);
  Info.OpenState = 2;
  Info.OpenKind = DvrTypeCode;
  Info.Group = Head.Group;
  Info.Wnd = Head.Wnd;
  WriteLog("--------------------" + std::to_string(-1));
  Info.HasAudio = 1;
  return 0;
}

std::int32_t TDecodeDL::FeedVideo(TFrameHead& Head, std::int32_t Player, std::uint32_t Handle,
                                  const std::uint8_t* Data, bool WantPicture, std::vector<std::uint8_t>& Picture,
                                  std::uint32_t& Width, std::uint32_t& Height) {
  if (!FDecode) return -1;
  for (int Attempts = 0;;) {
    std::int32_t Result = -1;
    const bool Called = WithDecoder(Player, Handle, [&](std::uint32_t H) {
      TDLFrameOut Out;
      std::memset(&Out, 0, sizeof Out);
      if (!GuardedCall([&] { Result = FDecode(H, Data, Head.DataLen, &Out); })) Result = -1;
      // The planes belong to the decoder: copied while it cannot be destroyed.
      if (Result >= -1 && WantPicture) CopyPicture(Out, MaxDimension, Picture, Width, Height);
    });
    if (!Called) return -1;  // the stream was closed meanwhile
    if (Result >= -1) return 0;
    Win::Sleep(RefusalPauseMs);
    if (++Attempts >= MaxAttempts) return -1;
    if (!StillOpen(Head, Player)) return -1;
  }
}

std::int32_t TDecodeDL::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int32_t Player = PlayerOf(Head);
  // The frame's callback mode: pictures are wanted when the host's callback runs, or when its
  // request is taken up right here.
  bool WantPicture = false;
  if (TDecodeEngine* Engine = DecodeEngine()) {
    TChannelState State;
    Engine->GetChannelState(Head.Group, Head.Channel, State);
    WantPicture = State.CallBackState == 1 || State.CallBackState == 2;
  }
  ReconcileCallBack(Head);
  const std::uint32_t Handle = HandleOf(*Info);

  if (Head.FrameType == ZORV_FRAME_AUDIO) {
    if (!FDecodeAudioFrame) return -1;
    GuardedCall([&] { FDecodeAudioFrame(Data, Head.DataLen, 0); });
    Win::Sleep(1);
    return 0;
  }

  std::vector<std::uint8_t> Picture;
  std::uint32_t Width = 0;
  std::uint32_t Height = 0;
  const std::int32_t Result = FeedVideo(Head, Player, Handle, Data, WantPicture, Picture, Width, Height);
  if (WantPicture && !Picture.empty())
    DeliverToChannel(DvrTypeCode, Head.Group, Head.Channel, Picture.data(),
                     static_cast<std::uint32_t>(Picture.size()), Width, Height);
  return Result;
}

std::int32_t TDecodeDL::PlaySound(TFrameHead& Head) {
  return DoPlaySound(Head, [](TPlayerInfo&) {});  // the library plays every audio frame it gets
}

std::int32_t TDecodeDL::StopSound(TFrameHead& Head) {
  return DoStopSound(Head, [](TPlayerInfo&) {});
}

std::int32_t TDecodeDL::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  const std::int32_t Player = PlayerOf(Head);
  return DoStartCallBack(Head, CallBack, [&](TPlayerInfo& Info) {
    ClearBuffer(Head);
    const std::uint32_t Wnd = Info.Wnd;
    if (FSetDecoderHWnd)
      WithDecoder(Player, HandleOf(Info), [&](std::uint32_t H) { GuardedCall([&] { FSetDecoderHWnd(H, Wnd); }); });
  });
}

std::int32_t TDecodeDL::StopCallBack(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info || Info->CallBackState == 0) return 0;
  if (Info->CallBackState == 2) ClearBuffer(Head);
  const std::uint32_t Wnd = Head.Wnd;
  if (FSetDecoderHWnd)
    WithDecoder(PlayerOf(Head), HandleOf(*Info),
                [&](std::uint32_t H) { GuardedCall([&] { FSetDecoderHWnd(H, Wnd); }); });
  Info->CallBackProc = 0;
  Info->CallBackState = 0;
  return 0;
}

std::int32_t TDecodeDL::ClearBuffer(TFrameHead& Head) { return FindPlayer(Head) ? 0 : -1; }

std::int32_t TDecodeDL::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int32_t Player = PlayerOf(Head);
  const std::uint32_t Handle = HandleOf(*Info);
  return SnapThroughVendorFile(Size, Buffer, [&](const char* Name) {
    if (FCapture)
      WithDecoder(Player, Handle, [&](std::uint32_t H) { GuardedCall([&] { FCapture(H, Name); }); });
  });
}

std::int32_t TDecodeDL::CloseStream(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  if (ClearBuffer(Head) == -1) return -1;
  const std::int32_t Player = PlayerOf(Head);
  {
    // Waits for a frame inside Decode on another thread; its next attempt finds the decoder
    // closed and gives the frame up.
    TDecoderSlot& Slot = FDecoders[Player];
    std::lock_guard<std::mutex> Hold(Slot.Lock);
    if (Slot.Open && FDestroyDecoder) GuardedCall([&] { FDestroyDecoder(Slot.Handle); });
    Slot.Open = false;
    Slot.Handle = 0;
  }
  Win::Sleep(100);
  ReleasePlayer(Head);
  TDecodeBase::CloseStream(Head);
  return 0;
}
