// Entry points of "SHXDecoder.dll", the frame decoder driven by TDecodeSHX and TDecodeHuaYu.
// The library turns one compressed frame into one planar YUV 4:2:0 picture (YV12: luma, Cr,
// Cb) in a buffer the caller owns; it decodes pictures up to 720 x 576.
#pragma once

#include <cstdint>

#include "U_DecodeBase.h"

// Create parameters, passed by value: the picture size the decoder starts with.
struct TSHXCreateParam {
  std::int32_t Width;
  std::int32_t Height;
  std::int32_t Reserved[3];
};
static_assert(sizeof(TSHXCreateParam) == 20);

// Decoder information: width and height of the pictures it decodes, then three more fields.
struct TSHXDecoderInfo {
  std::int32_t Width;
  std::int32_t Height;
  std::int32_t Reserved[3];
};
static_assert(sizeof(TSHXDecoderInfo) == 20);

// Bound in this order.
#define SHX_ENTRIES(X)                                                                          \
  X(FSHXCreate, "SHXDec_Create", std::uint32_t, (std::int32_t, TSHXCreateParam))                \
  X(FSHXDestroy, "SHXDec_Destroy", void, (std::uint32_t))                                       \
  X(FSHXDecode, "SHXDec_Decode", std::int32_t,                                                  \
    (std::uint32_t, const std::uint8_t*, std::int32_t, std::uint8_t*))                          \
  X(FSHXGetDecoderInfo, "SHXDec_GetDecoderInfo", std::int32_t, (std::uint32_t, TSHXDecoderInfo*))

// The size every decoder is created with, and the picture size assumed when the decoder cannot
// tell its own.
constexpr std::int32_t SHXDefaultWidth = 352;
constexpr std::int32_t SHXDefaultHeight = 288;
// Largest picture the library decodes (720 x 576 as 4:2:0).
constexpr std::size_t SHXMaxPictureBytes = 720 * 576 * 3 / 2;

// Whether a picture of Width x Height fits a buffer of Capacity bytes as 4:2:0.
inline bool SHXPictureFits(std::int64_t Width, std::int64_t Height, std::size_t Capacity) {
  return Width > 0 && Height > 0 && Width <= 4096 && Height <= 4096 &&
         static_cast<std::size_t>(Width * Height * 3 / 2) <= Capacity;
}
