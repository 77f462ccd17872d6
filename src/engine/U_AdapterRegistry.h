// The adapter registry: which adapter class serves each DVR type and each card slot.
#pragma once

#include <functional>
#include <memory>

#include "U_DecodeBase.h"

// The adapter of a DVR type (0..26); null for a type without one.
std::unique_ptr<TDecodeBase> CreateSoftwareAdapter(int DvrType);
// The adapter of a card slot (0..4); null for an empty slot.
std::unique_ptr<TDecodeBase> CreateHardwareAdapter(int Slot);

// Internal test hooks (not exported from the library): an engine created while an override is
// set gets the override's adapter in that slot. A factory returning null leaves the slot empty.
namespace ZorvTest {
using TAdapterFactory = std::function<std::unique_ptr<TDecodeBase>()>;
void OverrideSoftwareAdapter(int DvrType, TAdapterFactory Factory);
void OverrideHardwareAdapter(int Slot, TAdapterFactory Factory);
void ClearAdapterOverrides();
}  // namespace ZorvTest
