// The records of the public header have the same layout in C and C++, and the values a client
// passes as addresses are pointer-sized in every build.
#include <gtest/gtest.h>

#include <type_traits>

#include "ZorvDecoder.h"

extern "C" size_t zorv_c_layout(int which);

TEST(PublicHeader, CAndCppAgreeOnTheRecords) {
  EXPECT_EQ(zorv_c_layout(0), 37u);
  EXPECT_EQ(zorv_c_layout(1), 26u);
  EXPECT_EQ(zorv_c_layout(2), 36u);
  EXPECT_EQ(zorv_c_layout(3), 48u);
  EXPECT_EQ(zorv_c_layout(4), 26u);
  EXPECT_EQ(zorv_c_layout(5), 44u);
  EXPECT_EQ(zorv_c_layout(6), 16u);
  EXPECT_EQ(zorv_c_layout(7), 13u);
  EXPECT_EQ(zorv_c_layout(8), sizeof(void*));
}

TEST(PublicHeader, AddressesArePointerSizedWindowsAndPortsAre32Bit) {
  EXPECT_EQ(sizeof(TDecCallBack), sizeof(void*));
  EXPECT_EQ(sizeof(TPlayM4DecCallBack), sizeof(void*));
  // Tarn_Decode_StartAviRecord's Value may be a file name.
  using StartAviRecord = decltype(&Tarn_Decode_StartAviRecord);
  static_assert(std::is_same_v<StartAviRecord, int32_t(ZORV_STDCALL*)(TFrameHead, uintptr_t)>);
  EXPECT_EQ(sizeof(TFrameHead::Wnd), 4u);
  using Play = decltype(&PlayM4_Play);
  static_assert(std::is_same_v<Play, ZORV_BOOL(ZORV_STDCALL*)(int32_t, uint32_t)>);
}
