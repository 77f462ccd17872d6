// The adapter registry: one line per DVR type and per card slot.
//
// Each line names the adapter class that serves its slot. Until an adapter lands, its line
// creates a TDecodePlaceholder (InitDecoder fails as with a missing vendor library). The
// engineer of an adapter replaces exactly the line of their own slot, e.g.
//     case 1: return std::make_unique<TDecodeHC>();             // Hikvision player
// and adds the unit's #include in the block below; nothing else in this file changes.
#include "U_AdapterRegistry.h"

#include <map>
#include <mutex>

#include "U_DecodePlaceholder.h"
// Adapter units (one #include per adapter that has landed):
#include "U_DecodeHB18.h"
#include "U_DecodeHY.h"
#include "U_DecodeHuaYu.h"
#include "U_DecodeHuangHePlay.h"
#include "U_DecodeDH.h"
#include "U_DecodeDaHuaHard.h"
#include "U_DecodeDL.h"
#include "U_DecodeHC.h"
#include "U_DecodeHikHard.h"
#include "U_DecodeMp4.h"
#include "U_DecodeSHX.h"
#include "U_DecodeTKL.h"
#include "U_DecodeTM.h"
#include "U_DecodeTMDVS_PB.h"
#include "U_DecodeTklDvs201.h"
#include "U_Mutex.h"

namespace {
template <class T>
std::unique_ptr<TDecodeBase> Make() {
  return std::make_unique<T>();
}

std::unique_ptr<TDecodeBase> RegisteredSoftwareAdapter(int DvrType) {
  switch (DvrType) {
    case 1: return Make<TDecodeHC>();            // TDecodeHC: Hikvision player
    case 4: return Make<TDecodeDaHua>();         // TDecodeDaHua: Dahua player
    case 6: return Make<TDecodeDL>();            // TDecodeDL: DL frame decoder
    case 8: return Make<TDecodeTVS>();           // TDecodeTVS: TKL DVS201
    case 9: return Make<TDecodeTKL>();           // TDecodeTKL: TKL player
    case 10: return Make<TDecodeSHX>();          // TDecodeSHX: SHX frame decoder
    case 12: return Make<TDecodeHB18>();         // TDecodeHB18: HB player
    case 13: return Make<TDecodeMp4>();          // TDecodeMp4: MPEG-4
    case 15: return Make<TDecodeHY>();           // TDecodeHY: HY player
    case 18: return Make<TDecodeTM>();           // TDecodeTM: TM player
    case 20: return Make<TDecodeHuaYu>();        // TDecodeHuaYu: HuaYu frame decoder
    case 21: return Make<TDecodeHuangHePlay>();  // TDecodeHuangHePlay: HuangHe player
    case 22: return Make<TDecodeTMDVS_PB>();     // TDecodeTMDVS_PB: TM DVS player
    default: return nullptr;
  }
}

std::unique_ptr<TDecodeBase> RegisteredHardwareAdapter(int Slot) {
  switch (Slot) {
    case 1: return Make<TDecodeHikHard>();       // TDecodeHikHard: Hikvision decode card
    case 3: return Make<TDecodeDaHuaHard>();     // TDecodeDaHuaHard: Dahua decode card
    default: return nullptr;
  }
}

// Test overrides, keyed by slot (software 0..26, hardware 100 + slot).
TMutex OverrideLock;
std::map<int, ZorvTest::TAdapterFactory>& Overrides() {
  static std::map<int, ZorvTest::TAdapterFactory> Map;
  return Map;
}

bool Overridden(int Key, std::unique_ptr<TDecodeBase>& Adapter) {
  std::lock_guard<std::mutex> Hold(OverrideLock);
  auto It = Overrides().find(Key);
  if (It == Overrides().end()) return false;
  Adapter = It->second ? It->second() : nullptr;
  return true;
}
}  // namespace

std::unique_ptr<TDecodeBase> CreateSoftwareAdapter(int DvrType) {
  std::unique_ptr<TDecodeBase> Adapter;
  if (Overridden(DvrType, Adapter)) return Adapter;
  return RegisteredSoftwareAdapter(DvrType);
}

std::unique_ptr<TDecodeBase> CreateHardwareAdapter(int Slot) {
  std::unique_ptr<TDecodeBase> Adapter;
  if (Overridden(100 + Slot, Adapter)) return Adapter;
  return RegisteredHardwareAdapter(Slot);
}

namespace ZorvTest {
void OverrideSoftwareAdapter(int DvrType, TAdapterFactory Factory) {
  std::lock_guard<std::mutex> Hold(OverrideLock);
  Overrides()[DvrType] = std::move(Factory);
}
void OverrideHardwareAdapter(int Slot, TAdapterFactory Factory) {
  std::lock_guard<std::mutex> Hold(OverrideLock);
  Overrides()[100 + Slot] = std::move(Factory);
}
void ClearAdapterOverrides() {
  std::lock_guard<std::mutex> Hold(OverrideLock);
  Overrides().clear();
}
}  // namespace ZorvTest
