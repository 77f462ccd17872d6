// TDecodeMp4: MPEG-4 streams decoded with libavcodec (see U_DecodeMp4.h).
#include "U_DecodeMp4.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "U_DecodeEngine.h"
#include "U_FileUtils.h"
#include "U_Log.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

std::array<TDecodeMp4::TSnapshot, PlayerCount> TDecodeMp4::Mp4Snapshots;

namespace {

// Whether the bytes hold the start of a coded picture (a VOP start code): a file head that
// carries only the configuration headers has none and gives the decoder no picture to make.
bool HasPictureStart(const std::uint8_t* Data, std::size_t Length) {
  for (std::size_t i = 0; i + 3 < Length; ++i)
    if (Data[i] == 0 && Data[i + 1] == 0 && Data[i + 2] == 1 && Data[i + 3] == 0xB6) return true;
  return false;
}

}  // namespace

TDecodeMp4::TDecodeMp4() {
  // The base constructor ran the base part of Create; the snapshot table is this class's part.
  for (TSnapshot& Entry : Mp4Snapshots) {
    std::lock_guard<std::mutex> Hold(Entry.Cap.Lock);
    Entry.BmpImage.clear();
    Entry.Cap.Done = 1;
  }
}

void TDecodeMp4::Create() {
  TDecodeBase::Create();
  for (TSnapshot& Entry : Mp4Snapshots) {
    std::lock_guard<std::mutex> Hold(Entry.Cap.Lock);
    Entry.BmpImage.clear();
    Entry.Cap.Done = 1;
  }
}

TDecodeMp4::~TDecodeMp4() {
  for (TPort& P : FPorts) {
    std::lock_guard<std::recursive_mutex> Hold(P.Lock);
    GuardedCall([&] { FreeDecoder(P); });
    P.Renderer.reset();
  }
  if (FAv) AvCodec::Release();
  FAv = nullptr;
  FCodec = nullptr;
}

const TSimpleDrawYUV* TDecodeMp4::RendererOf(int Port) const {
  if (Port < 0 || Port >= PlayerCount) return nullptr;
  return FPorts[Port].Renderer.get();
}

void TDecodeMp4::FreeDecoder(TPort& P) {
  if (!FAv) return;
  if (P.Context) FAv->avcodec_free_context(&P.Context);
  if (P.Packet) FAv->av_packet_free(&P.Packet);
  if (P.Frame) FAv->av_frame_free(&P.Frame);
  P.Context = nullptr;
  P.Packet = nullptr;
  P.Frame = nullptr;
  P.Input.reset();
  P.InputSize = 0;
}

std::int32_t TDecodeMp4::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  // A missing library leaves the adapter unloaded, silently; the next frame tries again.
  if (!FAv) FAv = AvCodec::Acquire(Dir + "PlayDll\\Mp4\\");
  if (!FAv) return -1;
  FCodec = FAv->avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  if (!FCodec) {
    std::fputs("Codec not found\n", stdout);
    std::fflush(stdout);
    AvCodec::Release();
    FAv = nullptr;
    return -1;
  }
  FState = 2;
  return 0;
}

std::int32_t TDecodeMp4::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  if (FState != 2 || !FAv || !FCodec) return -1;
  std::int32_t Port = -1;
  if (GetFreePlayer(Head, Port) < 0 || Port < 0 || Port >= PlayerCount) {
    WriteLog("文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel));
    return -1;
  }
  TPort& P = FPorts[Port];
  {
    std::lock_guard<std::recursive_mutex> Hold(P.Lock);
    FreeDecoder(P);  // nothing should be left from the port's last stream; be sure
    AVCodecContext* Context = FAv->avcodec_alloc_context3(FCodec);
    if (!Context) return -1;
    Context->thread_count = 1;  // one stream per channel: channels decode side by side instead
    // The file head's payload is the stream's configuration (object layer header): the decoder
    // takes it as its extradata, which is where libavcodec reads stream-level headers.
    const std::size_t HeadLength = Data ? Head.DataLen : 0;
    if (HeadLength > 0 && HeadLength <= MaxFrameBytes) {
      auto* Extra = static_cast<std::uint8_t*>(FAv->av_mallocz(HeadLength + AV_INPUT_BUFFER_PADDING_SIZE));
      if (Extra) {
        std::memcpy(Extra, Data, HeadLength);
        Context->extradata = Extra;
        Context->extradata_size = static_cast<int>(HeadLength);
      }
    }
    P.Context = Context;
    P.Packet = FAv->av_packet_alloc();
    P.Frame = FAv->av_frame_alloc();
    if (!P.Packet || !P.Frame || FAv->avcodec_open2(Context, FCodec, nullptr) < 0) {
      FreeDecoder(P);
      return -1;
    }
  }
  {
    // A picture captured for an earlier stream on this port is another channel's picture.
    TSnapshot& Snap = Mp4Snapshots[Port];
    std::lock_guard<std::mutex> Hold(Snap.Cap.Lock);
    Snap.BmpImage.clear();
  }
  TPlayerInfo& Info = FPlayers[Port];
  FChannelPlayer[Head.Group][Head.Channel] = Port;
  Info.HasAudio = 1;
  Info.Port = Port;
  Info.OpenState = 2;
  Info.OpenKind = DvrTypeCode;
  Info.Group = Head.Group;
  Info.Wnd = Head.Wnd;
  InputData(Head, Data);
  return 0;
}

std::int32_t TDecodeMp4::InputData(TFrameHead& Head, const std::uint8_t* Data) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int64_t Port = Info->Port;
  if (Port < 0 || Port >= PlayerCount) return -1;
  ReconcileCallBack(Head);

  // From here the result is 0 whatever the decoder makes of the frame.
  const std::size_t Length = Head.DataLen;
  if (!Data || Length == 0) return 0;  // an empty packet would put the decoder into draining
  if (Length > MaxFrameBytes) return 0;
  // The file head went to the decoder as its configuration when the stream opened; it is
  // decoded as well only when it also carries a picture.
  if (Head.FrameType == ZORV_FRAME_FILEHEAD && !HasPictureStart(Data, Length)) return 0;
  Decode(Head, static_cast<int>(Port), Data, Length);
  return 0;
}

void TDecodeMp4::Decode(TFrameHead& Head, int Port, const std::uint8_t* Data, std::size_t Length) {
  TPort& P = FPorts[Port];
  std::lock_guard<std::recursive_mutex> Hold(P.Lock);
  if (!P.Context) return;  // closed meanwhile

  // Staging buffer: 1 MiB from the first frame, grown for a larger one; the decoder may read
  // a few bytes past the frame, so the padding after it is zero.
  const std::size_t Needed = Length + AV_INPUT_BUFFER_PADDING_SIZE;
  try {
    if (P.InputSize < Needed) {
      const std::size_t Size = std::max(Needed, InputBufferBytes);
      P.Input.reset();  // the old buffer goes first: a frame too large for it is rare
      P.InputSize = 0;
      P.Input.reset(new std::uint8_t[Size]);
      P.InputSize = Size;
    }
  } catch (const std::bad_alloc&) {
    return;  // dropped
  }
  std::memcpy(P.Input.get(), Data, Length);
  std::memset(P.Input.get() + Length, 0, AV_INPUT_BUFFER_PADDING_SIZE);

  P.Packet->data = P.Input.get();
  P.Packet->size = static_cast<int>(Length);
  // The decoder calls are guarded: a fault inside the library costs the frame, not the host.
  int Sent = -1;
  if (!GuardedCall([&] { Sent = FAv->avcodec_send_packet(P.Context, P.Packet); })) Sent = -1;
  P.Packet->data = nullptr;
  P.Packet->size = 0;
  if (Sent < 0) return;  // a damaged frame is dropped; decoding goes on with the next one
  while (P.Context) {
    int Received = -1;
    if (!GuardedCall([&] { Received = FAv->avcodec_receive_frame(P.Context, P.Frame); }) || Received != 0) break;
    OutputPicture(Head, Port, P);
    if (P.Frame) FAv->av_frame_unref(P.Frame);  // null when a host callback closed the stream
  }
}

void TDecodeMp4::OutputPicture(TFrameHead& Head, int Port, TPort& P) {
  const AVFrame* F = P.Frame;
  if (F->format != AV_PIX_FMT_YUV420P || !F->data[0] || !F->data[1] || !F->data[2]) return;
  // An odd width or height loses its last column or row: 4:2:0 needs whole 2 x 2 blocks.
  const int W = F->width / 2 * 2;
  const int H = F->height / 2 * 2;
  if (W <= 0 || H <= 0) return;

  // The host gets the picture while its callback runs; otherwise only the window needs it.
  std::uintptr_t CallBack = 0;
  if (TDecodeEngine* Engine = DecodeEngine()) {
    TChannelState State;
    Engine->GetChannelState(Head.Group, Head.Channel, State);
    if (State.CallBackState == 2) CallBack = Engine->GetCallBack(Head.Group, Head.Channel);
  }

  if (!P.Renderer) {
    try {
      P.Renderer = std::make_unique<TSimpleDrawYUV>();
    } catch (const std::bad_alloc&) {
      return;
    }
  }

  const std::size_t LumaBytes = static_cast<std::size_t>(W) * H;
  const std::size_t ChromaBytes = LumaBytes / 4;
  const std::size_t Size = LumaBytes + 2 * ChromaBytes;
  // The window is drawn straight from the decoder's planes (unless their rows run backwards);
  // the host's picture is packed after the drawing, so the host reads it while it is fresh.
  const bool InPlace = F->linesize[0] >= W && F->linesize[1] >= W / 2 && F->linesize[1] == F->linesize[2];
  if (InPlace)
    P.Renderer->DrawPlanesToWindow(Head.Wnd, F->data[0], F->linesize[0], F->data[1], F->data[2], F->linesize[1], W, H);
  if (CallBack != 0 || !InPlace) {
    // The three planes back to back (Y, Cb, Cr), each row cut to the plane's even width: the
    // host gets them as one picture.
    try {
      if (P.Picture.size() < Size) P.Picture.resize(Size);
    } catch (const std::bad_alloc&) {
      return;
    }
    std::uint8_t* Y = P.Picture.data();
    std::uint8_t* Cb = Y + LumaBytes;
    std::uint8_t* Cr = Cb + ChromaBytes;
    for (int Row = 0; Row < H; ++Row)
      std::memcpy(Y + static_cast<std::size_t>(Row) * W, F->data[0] + static_cast<std::ptrdiff_t>(Row) * F->linesize[0], W);
    for (int Row = 0; Row < H / 2; ++Row) {
      std::memcpy(Cb + static_cast<std::size_t>(Row) * (W / 2), F->data[1] + static_cast<std::ptrdiff_t>(Row) * F->linesize[1], W / 2);
      std::memcpy(Cr + static_cast<std::size_t>(Row) * (W / 2), F->data[2] + static_cast<std::ptrdiff_t>(Row) * F->linesize[2], W / 2);
    }
    if (!InPlace) P.Renderer->DrawToWindow(Head.Wnd, Y, Cb, Cr, W, H, nullptr);
  }

  if (CallBack != 0) {
    TDecFrameInfo FrameInfo{};
    FrameInfo.Size = static_cast<std::uint32_t>(Size);
    FrameInfo.Width = static_cast<std::uint32_t>(W);
    FrameInfo.Height = static_cast<std::uint32_t>(H);
    FrameInfo.FrameKind = 1;
    FrameInfo.DvrType = DvrTypeCode;
    reinterpret_cast<TDecCallBack>(CallBack)(Head.Channel, FrameInfo, P.Picture.data());
  }

  TSnapshot& Snap = Mp4Snapshots[Port];
  if (Snap.Cap.Done.load() == 0 && P.Renderer) {
    std::vector<std::uint8_t> Image = P.Renderer->GetBmpImage();
    std::lock_guard<std::mutex> Hold(Snap.Cap.Lock);
    Snap.BmpImage = std::move(Image);
    Snap.Cap.Done = 1;
  }
}

std::int32_t TDecodeMp4::CloseStream(TFrameHead& Head) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int64_t Port = Info->Port;
  if (Port >= 0 && Port < PlayerCount) {
    TPort& P = FPorts[Port];
    std::lock_guard<std::recursive_mutex> Hold(P.Lock);
    GuardedCall([&] { FreeDecoder(P); });  // the renderer stays for the port's next stream
  }
  return TDecodeBase::CloseStream(Head);
}

std::int32_t TDecodeMp4::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  TPlayerInfo* Info = FindPlayer(Head);
  if (!Info) return -1;
  const std::int64_t Port = Info->Port;
  if (Port < 0 || Port >= PlayerCount) return -1;
  TSnapshot& Snap = Mp4Snapshots[Port];
  Snap.Cap.Done = 0;
  WaitCapDone(Snap.Cap);  // the feeding thread captures the next picture and sets Done

  std::lock_guard<std::mutex> Hold(Snap.Cap.Lock);
  const std::vector<std::uint8_t>& Image = Snap.BmpImage;
  if (Image.empty() || Image.size() > MaxSnapshotBytes) return -1;
  if (!Buffer || !*Buffer) return -1;
  std::memcpy(*Buffer, Image.data(), Image.size());
  if (Size) BmpPictureSize(std::string(Image.begin(), Image.end()), Size);
  return static_cast<std::int32_t>(Image.size());
}

std::int32_t TDecodeMp4::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  // Pictures come back from the decoder in InputData: nothing to register.
  return DoStartCallBack(Head, CallBack, [&](TPlayerInfo&) { ClearBuffer(Head); });
}

std::int32_t TDecodeMp4::StopCallBack(TFrameHead& Head) {
  return DoStopCallBack(Head, [&](TPlayerInfo&) { ClearBuffer(Head); });
}
