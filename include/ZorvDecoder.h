/* ZorvDecoder: one decoding and playback interface over many DVR/DVS player libraries.
 *
 * Two families of exports: the library's own Tarn_Decode_* functions, which take a 37-byte
 * TFrameHead by value (48-byte TFrameHeadH3 for the H3 forms), and the port-based PlayM4_*
 * functions for clients written against the Hikvision PlayM4 interface.
 *
 * On 32-bit Windows every export is stdcall with an undecorated name, except
 * Tarn_Decode_Pause, which takes the head pointer in EAX and the pause value in EDX.
 */
#ifndef ZORV_DECODER_H
#define ZORV_DECODER_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && defined(__i386__)
#define ZORV_STDCALL __attribute__((stdcall))
#define ZORV_REGISTER __attribute__((regparm(3)))
#elif defined(_WIN32) && defined(_M_IX86)
#define ZORV_STDCALL __stdcall
#define ZORV_REGISTER /* MSVC clients call Tarn_Decode_Pause through an assembler thunk */
#else
#define ZORV_STDCALL
#define ZORV_REGISTER
#endif

#if defined(_WIN32)
#if defined(ZORV_BUILDING_DLL)
#define ZORV_API /* exported under the plain names of ZorvDecoder.def only */
#else
#define ZORV_API __declspec(dllimport)
#endif
#else
#define ZORV_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* Frame head: names the display channel (Group, Channel), the window, the frame and the maker. */
typedef struct TFrameHead {
  uint32_t Channel;     /* display channel within the group, 0..99 */
  uint32_t Wnd;         /* window the channel is shown in */
  uint32_t Spare1;
  uint32_t HardChannel; /* channel on a hardware decode card */
  uint32_t Spare2;
  uint32_t DataLen;     /* bytes of frame data passed beside the head */
  uint8_t FrameType;    /* 1 file head, 2 I, 3 B, 4 P, 5 BP, 6 BBP, 7 audio */
  uint8_t DvrType;      /* maker and stream family */
  double FrameTime;     /* days since 30 December 1899, fraction = time of day */
  uint8_t Group;        /* 0..4 */
  uint8_t HardIndex;    /* decode card slot 0..4 */
  uint8_t DecodeMode;   /* 1 = hardware decoding; anything else software */
} TFrameHead;

/* H3 head: as TFrameHead, with a calendar time stamp in place of FrameTime. */
typedef struct TFrameHeadH3 {
  uint32_t Channel;
  uint32_t Wnd;
  uint32_t Spare1;
  uint32_t HardChannel;
  uint32_t Spare2;
  uint32_t DataLen;
  uint8_t FrameType;
  uint8_t DvrType;
  uint16_t FrameStamp[8]; /* year, month, day of week, day, hour, minute, second, millisecond */
  uint8_t Reserved1[2];
  uint8_t Group;
  uint8_t HardIndex;
  uint8_t DecodeMode;
  uint8_t Reserved2;
} TFrameHeadH3;

/* Describes one decoded picture handed to the host decode callback. */
typedef struct TDecFrameInfo {
  uint32_t Size;     /* bytes at the picture pointer */
  uint32_t Width;
  uint32_t Height;
  uint8_t FrameKind; /* 1 = planar YUV 4:2:0, luma first */
  uint8_t DvrType;   /* DVR type of the adapter that decoded it */
  uint8_t Reserved[2];
} TDecFrameInfo;

#pragma pack(pop)

/* Frame type codes. */
enum {
  ZORV_FRAME_FILEHEAD = 1,
  ZORV_FRAME_I = 2,
  ZORV_FRAME_B = 3,
  ZORV_FRAME_P = 4,
  ZORV_FRAME_BP = 5,
  ZORV_FRAME_BBP = 6,
  ZORV_FRAME_AUDIO = 7
};

/* Host decode callback: called from a vendor thread once per decoded picture; the picture is
 * valid only during the call. */
typedef void(ZORV_STDCALL* TDecCallBack)(uint32_t Channel, TDecFrameInfo Info, const uint8_t* Picture);

/* PlayM4-style decode callback: the Hikvision decode callback's arguments, with the display
 * channel number in place of the port. FrameInfo starts with width and height. */
typedef void(ZORV_STDCALL* TPlayM4DecCallBack)(int32_t Channel, const uint8_t* Buffer, int32_t Size,
                                                const void* FrameInfo, int32_t Reserved1,
                                                int32_t Reserved2);

typedef int32_t ZORV_BOOL;

/* ---- Tarn_Decode_* ---------------------------------------------------------------------- */
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_Initialize(int32_t Param, const char* Dir, int32_t NoHardware);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_InitializeH3(const char* Dir, int32_t NoHardware);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_ShutDown(void);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_ShutDownH3(void);

ZORV_API int32_t ZORV_STDCALL Tarn_Decode_AddFrame(TFrameHead Head, const uint8_t* Data);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_AddFrameH3(TFrameHeadH3 Head, const uint8_t* Data);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_ClearBuffer(TFrameHead Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_ClearBufferH3(TFrameHeadH3 Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_RefrushWindow(TFrameHead Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_RefrushWindowH3(TFrameHeadH3 Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_ResetDisplay(TFrameHead Head, int32_t Value);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_PlaySound(TFrameHead Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_PlaySoundH3(TFrameHeadH3 Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StopSound(TFrameHead Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StopSoundH3(TFrameHeadH3 Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StartCallBack(TFrameHead Head, TDecCallBack CallBack);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StartCallBackH3(TFrameHeadH3 Head, TDecCallBack CallBack);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StopCallBack(TFrameHead Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StopCallBackH3(TFrameHeadH3 Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_CloseOneChannel(TFrameHead Head);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_CloseOneChannelH3(TFrameHeadH3 Head);
/* Size receives (width, height); *Buffer is the caller's buffer the BMP image is written to.
 * Returns the number of bytes written, -1 when no picture was captured. */
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_SnapPicture(TFrameHead Head, int32_t* Size, uint8_t** Buffer);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_SnapPictureH3(TFrameHeadH3 Head, int32_t* Size, uint8_t** Buffer);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StartAviRecord(TFrameHead Head, uintptr_t Value);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_StopAviRecord(TFrameHead Head);
ZORV_API int32_t ZORV_REGISTER Tarn_Decode_Pause(const TFrameHead* Head, int32_t Pause);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_SetPlayMode(TFrameHead Head, int32_t Mode);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_SetDecoderVideoExtOutput(TFrameHead Head, int32_t A, int32_t B,
                                                                   uint8_t C, int32_t D, int32_t E,
                                                                   int32_t F);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_SetDisplayRegion(TFrameHead Head, int32_t A, int32_t B, void* C,
                                                           int32_t D);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_OutParm(uint8_t HardIndex, int32_t* Out1, int32_t* Out2);
ZORV_API int32_t ZORV_STDCALL Tarn_Decode_InitHardHandle(int32_t Handle);

/* ---- PlayM4_*: port p is display channel (group 4, channel p), p in 0..99 ----------------- */
ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_OpenStream(int32_t Port, uint8_t DvrType, uint8_t* Header,
                                                  uint32_t HeaderLen, uint32_t BufPoolSize);
ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_InputData(int32_t Port, uint8_t* Buffer, uint32_t Len);
ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_CloseStream(int32_t Port);
ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_Stop(int32_t Port);
ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_Play(int32_t Port, uint32_t Wnd);
ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_SetDecCallBack(int32_t Port, TPlayM4DecCallBack CallBack);
ZORV_API int32_t ZORV_STDCALL PlayM4_SetStreamOpenMode(int32_t Port, int32_t Mode);
ZORV_API int32_t ZORV_STDCALL PlayM4_SetVolume(int32_t Port, uint16_t Volume);
ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_PlaySound(int32_t Port);
ZORV_API ZORV_BOOL ZORV_STDCALL PlayM4_StopSound(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_SnapPicture(int32_t Port, const char* FileName);
ZORV_API int32_t ZORV_STDCALL PlayM4_SetColor(int32_t Port, int32_t Region, int32_t Brightness,
                                              int32_t Contrast, int32_t Saturation, int32_t Hue);
ZORV_API int32_t ZORV_STDCALL PlayM4_GetColor(int32_t Port, int32_t Region, int32_t* Brightness,
                                              int32_t* Contrast, int32_t* Saturation, int32_t* Hue);
ZORV_API int32_t ZORV_STDCALL PlayM4_OpenFile(int32_t Port, uint8_t DvrType, const char* FileName);
ZORV_API int32_t ZORV_STDCALL PlayM4_CloseFile(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_Pause(int32_t Port, int32_t Pause);
ZORV_API int32_t ZORV_STDCALL PlayM4_Fast(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_Slow(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_OneByOne(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_SetPlayPos(int32_t Port, double Pos);
ZORV_API double ZORV_STDCALL PlayM4_GetPlayPos(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_GetFileTime(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_GetPlayedTime(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_GetPlayedFrames(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_GetFileTotalFrames(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_GetCurrentFrameRate(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_GetPlayedTimeEx(int32_t Port);
ZORV_API int32_t ZORV_STDCALL PlayM4_SetPlayedTimeEx(int32_t Port, int32_t Time);
ZORV_API int32_t ZORV_STDCALL PlayM4_GetCurrentFrameNum(int32_t Port);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* Layout checks: these records cross the DLL boundary byte for byte. */
#ifdef __cplusplus
#define ZORV_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#define ZORV_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
ZORV_STATIC_ASSERT(sizeof(TFrameHead) == 37, "TFrameHead is 37 bytes");
ZORV_STATIC_ASSERT(offsetof(TFrameHead, DataLen) == 20, "DataLen at 20");
ZORV_STATIC_ASSERT(offsetof(TFrameHead, FrameType) == 24, "FrameType at 24");
ZORV_STATIC_ASSERT(offsetof(TFrameHead, DvrType) == 25, "DvrType at 25");
ZORV_STATIC_ASSERT(offsetof(TFrameHead, FrameTime) == 26, "FrameTime at 26");
ZORV_STATIC_ASSERT(offsetof(TFrameHead, Group) == 34, "Group at 34");
ZORV_STATIC_ASSERT(offsetof(TFrameHead, HardIndex) == 35, "HardIndex at 35");
ZORV_STATIC_ASSERT(offsetof(TFrameHead, DecodeMode) == 36, "DecodeMode at 36");
ZORV_STATIC_ASSERT(sizeof(TFrameHeadH3) == 48, "TFrameHeadH3 is 48 bytes");
ZORV_STATIC_ASSERT(offsetof(TFrameHeadH3, FrameStamp) == 26, "FrameStamp at 26");
ZORV_STATIC_ASSERT(offsetof(TFrameHeadH3, Group) == 44, "H3 Group at 44");
ZORV_STATIC_ASSERT(offsetof(TFrameHeadH3, HardIndex) == 45, "H3 HardIndex at 45");
ZORV_STATIC_ASSERT(offsetof(TFrameHeadH3, DecodeMode) == 46, "H3 DecodeMode at 46");
ZORV_STATIC_ASSERT(sizeof(TDecFrameInfo) == 16, "TDecFrameInfo is 16 bytes");
ZORV_STATIC_ASSERT(offsetof(TDecFrameInfo, FrameKind) == 12, "FrameKind at 12");
ZORV_STATIC_ASSERT(offsetof(TDecFrameInfo, DvrType) == 13, "DvrType at 13");

#endif /* ZORV_DECODER_H */
