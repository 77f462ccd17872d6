#include "SpineTestAdapter.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "Platform.h"
#include "U_Log.h"

namespace fs = std::filesystem;

TTestAdapter::TTestAdapter(std::uint8_t OwnType, std::int32_t DecodeChannels) : FOwnType(OwnType) {
  FDecodeChannelCount = DecodeChannels;
  ResetCapTable(FCap);
}

void TTestAdapter::Note(const char* Op, const TFrameHead& Head) {
  if (!Journalling) return;
  std::lock_guard<std::mutex> Hold(FJournalLock);
  FCalls.push_back({Op, Head.DvrType, Head.Group, Head.Channel, Head.FrameType, Head.Wnd});
}

std::vector<TAdapterCall> TTestAdapter::Calls() const {
  std::lock_guard<std::mutex> Hold(FJournalLock);
  return FCalls;
}

std::vector<std::string> TTestAdapter::Ops() const {
  std::vector<std::string> Names;
  for (const TAdapterCall& Call : Calls()) Names.push_back(Call.Op);
  return Names;
}

int TTestAdapter::Count(const std::string& Op) const {
  int N = 0;
  for (const TAdapterCall& Call : Calls()) N += Call.Op == Op;
  return N;
}

void TTestAdapter::ClearCalls() {
  std::lock_guard<std::mutex> Hold(FJournalLock);
  FCalls.clear();
}

std::int32_t TTestAdapter::FreeEntries() const {
  std::int32_t N = 0;
  for (int i = 0; i < PlayerCount; ++i) N += PlayerAt(i).Port == -1;
  return N;
}

bool TTestAdapter::EmitPicture(std::int64_t Port, std::uint32_t Width, std::uint32_t Height) {
  std::vector<std::uint8_t> Picture(static_cast<std::size_t>(Width) * Height * 3 / 2 + 1, 0x80);
  return DeliverPicture(FOwnType, Port, Picture.data(), static_cast<std::uint32_t>(Picture.size() - 1), Width,
                        Height);
}

std::int32_t TTestAdapter::InitDecoder(std::int32_t Param, const std::string& Dir) {
  if (BeginInitDecoder(Param, Dir) == 0) return 0;
  TFrameHead None{};
  Note("InitDecoder", None);
  if (FailInit) {
    FDllExists = false;
    return -1;
  }
  FDllExists = true;
  FState = 2;
  return 0;
}

std::int32_t TTestAdapter::TakePlayer(TFrameHead& Head, std::uint8_t OpenKind) {
  std::int32_t Player = -1;
  if (GetFreePlayer(Head, Player) == -1) {
    WriteLog("文件头，寻找空闲通道失败;显示画面序号:" + std::to_string(Head.Channel), 1);
    return -1;
  }
  if (FailOpen) return -1;  // the player stays taken: the engine must release it
  TPlayerInfo& Info = FPlayers[Player];
  Info.Port = PortBase + Player;
  Info.Group = Head.Group;
  Info.Wnd = Head.Wnd;
  Info.OpenState = 2;
  Info.OpenKind = OpenKind;
  Info.HasAudio = StreamHasAudio.load();
  return Player;
}

std::int32_t TTestAdapter::OpenStream(TFrameHead& Head, const std::uint8_t* Data) {
  Note("OpenStream", Head);
  if (TakePlayer(Head, FOwnType) < 0) return -1;
  if (Head.FrameType != 1) return InputData(Head, Data);  // a lazy open feeds its first frame
  return 0;
}

std::int32_t TTestAdapter::InputData(TFrameHead& Head, const std::uint8_t*) {
  Note("InputData", Head);
  if (!FindPlayer(Head)) return -1;
  if (Head.FrameType == 7) PlaySound(Head);
  ReconcileCallBack(Head);
  if (ThrowOnInput) throw std::runtime_error("vendor input failed");
  return 0;
}

std::int32_t TTestAdapter::PlaySound(TFrameHead& Head) {
  Note("PlaySound", Head);
  return DoPlaySound(Head, [&](TPlayerInfo&) { Note("VendorSoundOn", Head); });
}

std::int32_t TTestAdapter::StopSound(TFrameHead& Head) {
  Note("StopSound", Head);
  return DoStopSound(Head, [&](TPlayerInfo&) { Note("VendorSoundOff", Head); });
}

std::int32_t TTestAdapter::StartCallBack(TFrameHead& Head, std::uintptr_t CallBack) {
  Note("StartCallBack", Head);
  return DoStartCallBack(Head, CallBack, [&](TPlayerInfo&) { Note("VendorCallBackOn", Head); });
}

std::int32_t TTestAdapter::StopCallBack(TFrameHead& Head) {
  Note("StopCallBack", Head);
  return DoStopCallBack(Head, [&](TPlayerInfo&) { Note("VendorCallBackOff", Head); });
}

std::int32_t TTestAdapter::Play(TFrameHead& Head) {
  Note("Play", Head);
  return 0;
}

std::int32_t TTestAdapter::RefrushWindow(TFrameHead& Head) {
  Note("RefrushWindow", Head);
  return FindPlayer(Head) ? 0 : -1;
}

std::int32_t TTestAdapter::ResetDisplay(TFrameHead& Head, std::int32_t Value) {
  Note("ResetDisplay", Head);
  return Value;
}

std::int32_t TTestAdapter::ClearBuffer(TFrameHead& Head) {
  Note("ClearBuffer", Head);
  return FindPlayer(Head) ? 0 : -1;
}

std::int32_t TTestAdapter::PauseChannel(TFrameHead& Head, std::int32_t) {
  Note("PauseChannel", Head);
  return 0;
}

namespace {
// A 24-bit bottom-up BMP image of Width x Height grey pixels.
std::string MakeBmp(std::int32_t Width, std::int32_t Height) {
  const std::uint32_t Stride = (static_cast<std::uint32_t>(Width) * 3 + 3) & ~3u;
  const std::uint32_t Bits = Stride * static_cast<std::uint32_t>(Height);
  std::string Data(54 + Bits, '\x7f');
  Win::BITMAPFILEHEADER File{0x4D42, 54 + Bits, 0, 0, 54};
  Win::BITMAPINFOHEADER Info{40, Width, Height, 1, 24, 0, Bits, 0, 0, 0, 0};
  std::memcpy(Data.data(), &File, 14);
  std::memcpy(Data.data() + 14, &Info, 40);
  return Data;
}

// The requester waits for the vendor thread at the real pace: a scaled-down wait can end before
// a thread that was just started has run at all (seen under Wine on a busy machine). A served
// request ends the wait at once, so this costs nothing when the thread is on time.
struct TRealPaceWait {
  TRealPaceWait() { Win::Test::SetSleepScaleOfThisThread(1); }
  ~TRealPaceWait() { Win::Test::SetSleepScaleOfThisThread(-1); }
};

// The vendor display thread of a snapshot: serves the pending request of Entry once.
void ServeSnapshot(TCapBMP& Entry) {
  for (int i = 0; i < 2000; ++i) {
    std::string Name;
    if (TakeCapRequest(Entry, Name)) {
      std::ofstream(Win::NativePath(Name.c_str()), std::ios::binary) << MakeBmp(8, 6);
      FinishCapRequest(Entry);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
}  // namespace

std::int32_t TTestAdapter::SnapPicture(TFrameHead& Head, std::int32_t* Size, std::uint8_t** Buffer) {
  Note("SnapPicture", Head);
  const std::int32_t Player = PlayerOf(Head);
  if (Player < 0) return -1;
  std::thread Vendor(ServeSnapshot, std::ref(FCap[Player]));
  const TRealPaceWait Pace;
  const std::int32_t Result = SnapThroughTempFile(FCap[Player], Size, Buffer);
  Vendor.join();
  return Result;
}

std::int32_t TTestAdapter::SnapPictureToFile(TFrameHead& Head, const char* FileName) {
  Note("SnapPictureToFile", Head);
  const std::int32_t Player = PlayerOf(Head);
  if (Player < 0) return 0;
  std::thread Vendor(ServeSnapshot, std::ref(FCap[Player]));
  const TRealPaceWait Pace;
  const std::int32_t Result = SnapToFileAndWait(FCap[Player], FileName);
  Vendor.join();
  return Result;
}

std::int32_t TTestAdapter::CloseStream(TFrameHead& Head) {
  Note("CloseStream", Head);
  if (!FindPlayer(Head)) return -1;
  if (ThrowOnClose) throw std::runtime_error("vendor close failed");
  return TDecodeBase::CloseStream(Head);
}

std::int32_t TTestAdapter::SetDecoderVideoExtOutput(TFrameHead& Head, std::int32_t A, std::int32_t, std::uint8_t,
                                                    std::int32_t, std::int32_t, std::int32_t) {
  Note("SetDecoderVideoExtOutput", Head);
  return A;
}

std::int32_t TTestAdapter::SetDisplayRegion(TFrameHead& Head, std::int32_t A, std::int32_t, void*, std::int32_t) {
  Note("SetDisplayRegion", Head);
  return A;
}

std::int32_t TTestAdapter::InitHardHandle(std::int32_t) {
  Note("InitHardHandle", TFrameHead{});
  return -1;
}

std::int32_t TTestAdapter::OutParm(std::int32_t* Out1, std::int32_t* Out2) {
  Note("OutParm", TFrameHead{});
  *Out1 = DecodeChannelCount();
  *Out2 = 3;
  return 0;
}

std::int32_t TTestAdapter::OpenFile(TFrameHead& Head, const char*) {
  Note("OpenFile", Head);
  return TakePlayer(Head, 1) < 0 ? 0 : 1;
}

std::int32_t TTestAdapter::Pause(TFrameHead& Head, std::int32_t) {
  Note("Pause", Head);
  return PauseResult;
}

std::int32_t TTestAdapter::SetVolume(TFrameHead& Head, std::uint16_t Volume) {
  Note("SetVolume", Head);
  return Volume;
}

std::int32_t TTestAdapter::GetColor(TFrameHead& Head, std::int32_t Region, std::int32_t* Brightness,
                                    std::int32_t*, std::int32_t*, std::int32_t*) {
  Note("GetColor", Head);
  if (Brightness) *Brightness = 64;
  return Region;
}

std::int32_t TTestAdapter::SetColor(TFrameHead& Head, std::int32_t Region, std::int32_t, std::int32_t,
                                    std::int32_t, std::int32_t) {
  Note("SetColor", Head);
  return Region;
}

double TTestAdapter::GetPlayPos(TFrameHead& Head) {
  Note("GetPlayPos", Head);
  return 0.25;
}

std::int32_t TTestAdapter::GetPlayedFrames(TFrameHead& Head) {
  Note("GetPlayedFrames", Head);
  return 42;
}

// ---- rig -------------------------------------------------------------------------------------

TSpineRig::TSpineRig() {
  static std::atomic<int> Serial{0};
  FDir = (fs::temp_directory_path() /
          ("zorv-spine-" + std::to_string(Win::GetCurrentProcessId()) + "-" + std::to_string(Serial++)))
             .string();
  fs::create_directories(FDir);
#ifndef _WIN32
  Win::Test::SetDriveRoot(FDir + "/drives");
  fs::create_directories(FDir + "/drives/c");
#endif
  SetFlagFile("");
}

TSpineRig::~TSpineRig() {
  Tarn_Decode_ShutDown();
  ZorvTest::ClearAdapterOverrides();
  SetFlagFile("");
  std::error_code Ignored;
  fs::remove_all(FDir, Ignored);
}

void TSpineRig::UseSoftware(int DvrType) {
  ZorvTest::OverrideSoftwareAdapter(DvrType, [DvrType] {
    return std::make_unique<TTestAdapter>(static_cast<std::uint8_t>(DvrType));
  });
}

void TSpineRig::UseHardware(int Slot, std::int32_t DecodeChannels) {
  ZorvTest::OverrideHardwareAdapter(Slot, [Slot, DecodeChannels] {
    return std::make_unique<TTestAdapter>(static_cast<std::uint8_t>(Slot == 1 ? 1 : 4), DecodeChannels);
  });
}

void TSpineRig::UseAll() {
  for (int DvrType : {1, 4, 6, 8, 9, 10, 12, 13, 15, 18, 20, 21, 22}) UseSoftware(DvrType);
  UseHardware(1, 16);
  UseHardware(3, 16);
}

void TSpineRig::SetFlagFile(const std::string& Text) {
  const std::string Path = Win::NativePath("c:\\Flag.Txt");
  std::error_code Ignored;
  if (Text.empty()) {
    fs::remove(Path, Ignored);
    return;
  }
  std::ofstream(Path, std::ios::binary) << Text;
}

TTestAdapter* TSpineRig::Adapter(int DvrType) {
  TDecodeEngine* Engine = DecodeEngine();
  return Engine ? dynamic_cast<TTestAdapter*>(Engine->Decoder(DvrType)) : nullptr;
}

TTestAdapter* TSpineRig::Card(int Slot) {
  TDecodeEngine* Engine = DecodeEngine();
  return Engine ? dynamic_cast<TTestAdapter*>(Engine->HardDecoder(Slot)) : nullptr;
}

TFrameHead MakeHead(std::uint8_t Group, std::uint32_t Channel, std::uint8_t FrameType, std::uint8_t DvrType,
                    std::uint32_t DataLen) {
  TFrameHead Head;
  std::memset(&Head, 0, sizeof Head);
  Head.Group = Group;
  Head.Channel = Channel;
  Head.FrameType = FrameType;
  Head.DvrType = DvrType;
  Head.DataLen = DataLen;
  Head.DecodeMode = 2;
  return Head;
}
