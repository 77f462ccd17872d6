/* ABI client for ZorvDecoder.dll: loads the library at run time (it links nothing of it), finds
 * every export of the public header under its plain name, and calls each one as a client
 * compiled by another compiler would: arguments pushed as raw 32-bit stack words (a head by
 * value is ten words, an H3 head twelve), the callee popping them; Tarn_Decode_Pause with its
 * arguments in EAX and EDX; PlayM4_GetPlayPos returning its double on the FPU stack. No engine
 * exists, so each call must give its "no engine" value and do nothing else.
 *
 * Prints one line per failed check and ends with "N passed, M failed". */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "AbiExportNames.h"
#include "ZorvDecoder.h"

#define COUNT(a) ((int)(sizeof(a) / sizeof((a)[0])))

static int passed, failed;

static void check(int ok, const char* what, const char* name, long long got, long long want) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    printf("FAILED %s %s: got %lld, want %lld\n", what, name, got, want);
  }
}

/* Pushes n words (words[0] last, so it lies lowest, as the first argument), calls fn and tells
 * how far the stack pointer moved over the whole call: 0 when the callee popped its arguments. */
static int32_t call_stdcall(void* fn, const uint32_t* words, int n, int32_t* stack_moved) {
  int32_t result, moved;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n"
      "1:\n\t"
      "pushl -4(%%edi,%%ecx,4)\n\t"
      "decl %%ecx\n\t"
      "jnz 1b\n"
      "2:\n\t"
      "call *%%ebx\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%esi, %%ecx\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(result), "=c"(moved)
      : "b"(fn), "D"(words), "1"(n)
      : "edx", "esi", "memory", "cc");
  *stack_moved = moved;
  return result;
}

/* The register convention: head pointer in EAX, value in EDX, nothing on the stack. */
static int32_t call_register(void* fn, const void* head, int32_t value, int32_t* stack_moved) {
  int32_t result, moved;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "call *%%ebx\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%esi, %%ecx\n\t"
      "movl %%esi, %%esp\n\t"
      : "=a"(result), "=c"(moved), "+d"(value)
      : "b"(fn), "0"(head)
      : "esi", "memory", "cc");
  *stack_moved = moved;
  return result;
}

/* A stdcall function of one word whose double result is left on the FPU stack. */
static double call_fpu_result(void* fn, uint32_t word, int32_t* stack_moved) {
  double result = -1.0;
  double* out = &result;
  int32_t moved;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "pushl %%edx\n\t"
      "call *%%ebx\n\t"
      "fstpl (%%edi)\n\t"
      "movl %%esp, %%ecx\n\t"
      "subl %%esi, %%ecx\n\t"
      "movl %%esi, %%esp\n\t"
      : "=c"(moved), "+d"(word)
      : "b"(fn), "D"(out)
      : "eax", "esi", "memory", "cc");
  *stack_moved = moved;
  return result;
}

/* Every export but Initialize (which would create the engine), Pause and GetPlayPos: how many
 * stack words it takes and what it answers while no engine exists. */
struct Call {
  const char* name;
  int words;
  int32_t no_engine;
};

static const struct Call kCalls[] = {
    {"Tarn_Decode_ShutDown", 0, 0},
    {"Tarn_Decode_ShutDownH3", 0, 0},
    {"Tarn_Decode_AddFrame", 11, -1},
    {"Tarn_Decode_AddFrameH3", 13, -1},
    {"Tarn_Decode_ClearBuffer", 10, -1},
    {"Tarn_Decode_ClearBufferH3", 12, -1},
    {"Tarn_Decode_RefrushWindow", 10, -1},
    {"Tarn_Decode_RefrushWindowH3", 12, -1},
    {"Tarn_Decode_ResetDisplay", 11, -1},
    {"Tarn_Decode_PlaySound", 10, -1},
    {"Tarn_Decode_PlaySoundH3", 12, -1},
    {"Tarn_Decode_StopSound", 10, -1},
    {"Tarn_Decode_StopSoundH3", 12, -1},
    {"Tarn_Decode_StartCallBack", 11, -1},
    {"Tarn_Decode_StartCallBackH3", 13, -1},
    {"Tarn_Decode_StopCallBack", 10, -1},
    {"Tarn_Decode_StopCallBackH3", 12, -1},
    {"Tarn_Decode_CloseOneChannel", 10, -1},
    {"Tarn_Decode_CloseOneChannelH3", 12, -1},
    {"Tarn_Decode_SnapPicture", 12, -1},
    {"Tarn_Decode_SnapPictureH3", 14, -1},
    {"Tarn_Decode_StartAviRecord", 11, -1},
    {"Tarn_Decode_StopAviRecord", 10, -1},
    {"Tarn_Decode_SetPlayMode", 11, -1},
    {"Tarn_Decode_SetDecoderVideoExtOutput", 16, -1},
    {"Tarn_Decode_SetDisplayRegion", 14, -1},
    {"Tarn_Decode_OutParm", 3, -1},
    {"Tarn_Decode_InitHardHandle", 1, -1},
    {"PlayM4_OpenStream", 5, 0},
    {"PlayM4_InputData", 3, 0},
    {"PlayM4_CloseStream", 1, 0},
    {"PlayM4_Stop", 1, 0},
    {"PlayM4_Play", 2, 0},
    {"PlayM4_SetDecCallBack", 2, 0},
    {"PlayM4_SetStreamOpenMode", 2, 0},
    {"PlayM4_SetVolume", 2, 1},
    {"PlayM4_PlaySound", 1, 0},
    {"PlayM4_StopSound", 1, 0},
    {"PlayM4_SnapPicture", 2, 0},
    {"PlayM4_SetColor", 6, -1},
    {"PlayM4_GetColor", 6, -1},
    {"PlayM4_OpenFile", 3, 0},
    {"PlayM4_CloseFile", 1, 0},
    {"PlayM4_Pause", 2, 0},
    {"PlayM4_Fast", 1, 0},
    {"PlayM4_Slow", 1, 0},
    {"PlayM4_OneByOne", 1, 0},
    {"PlayM4_SetPlayPos", 3, 0},
    {"PlayM4_GetFileTime", 1, 0},
    {"PlayM4_GetPlayedTime", 1, 0},
    {"PlayM4_GetPlayedFrames", 1, 0},
    {"PlayM4_GetFileTotalFrames", 1, 0},
    {"PlayM4_GetCurrentFrameRate", 1, 0},
    {"PlayM4_GetPlayedTimeEx", 1, 0},
    {"PlayM4_SetPlayedTimeEx", 2, 0},
    {"PlayM4_GetCurrentFrameNum", 1, 0},
};

static int in_list(const char* name, const char* const* list, int n) {
  for (int i = 0; i < n; ++i)
    if (strcmp(list[i], name) == 0) return 1;
  return 0;
}

/* Names in the DLL's export directory that carry a decoration ('@'). */
static int decorated_exports(HMODULE dll) {
  const BYTE* base = (const BYTE*)dll;
  const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY* dir = &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (!dir->VirtualAddress) return 0;
  const IMAGE_EXPORT_DIRECTORY* exp = (const IMAGE_EXPORT_DIRECTORY*)(base + dir->VirtualAddress);
  const DWORD* names = (const DWORD*)(base + exp->AddressOfNames);
  int decorated = 0;
  for (DWORD i = 0; i < exp->NumberOfNames; ++i) {
    const char* name = (const char*)(base + names[i]);
    if (strchr(name, '@')) {
      printf("decorated export: %s\n", name);
      ++decorated;
    }
  }
  return decorated;
}

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "ZorvDecoder.dll";
  HMODULE dll = LoadLibraryA(path);
  if (!dll) {
    printf("FAILED LoadLibraryA(%s): error %lu\n0 passed, 1 failed\n", path, (unsigned long)GetLastError());
    return 1;
  }

  /* Every export of the header, under its plain name, also listed in the .def file. */
  for (int i = 0; i < COUNT(kHeaderExports); ++i) {
    const char* name = kHeaderExports[i];
    check(GetProcAddress(dll, name) != NULL, "export present", name, 0, 1);
    check(in_list(name, kDefExports, COUNT(kDefExports)), "listed in ZorvDecoder.def", name, 0, 1);
  }
  check(COUNT(kHeaderExports) == COUNT(kDefExports), "exports in header and .def", "", COUNT(kHeaderExports),
        COUNT(kDefExports));
  check(decorated_exports(dll) == 0, "decorated export names", "", 1, 0);

  /* Each export by raw stack layout: zero words except the head's DvrType (Hikvision) and
   * FrameType (I frame), so that a head is well-formed. */
  uint32_t words[16];
  for (int i = 0; i < COUNT(kCalls); ++i) {
    const struct Call* c = &kCalls[i];
    check(in_list(c->name, kHeaderExports, COUNT(kHeaderExports)), "declared in header", c->name, 0, 1);
    void* fn = (void*)GetProcAddress(dll, c->name);
    if (!fn) continue;
    memset(words, 0, sizeof words);
    if (c->words >= 10 && strncmp(c->name, "Tarn_Decode_", 12) == 0) words[6] = 0x0102; /* FrameType 2, DvrType 1 */
    int32_t moved = 12345;
    int32_t r = call_stdcall(fn, words, c->words, &moved);
    check(r == c->no_engine, "result without engine", c->name, r, c->no_engine);
    check(moved == 0, "callee pops its arguments", c->name, moved, 0);
  }
  /* Every export is exercised by one of the checks. */
  for (int i = 0; i < COUNT(kHeaderExports); ++i) {
    const char* name = kHeaderExports[i];
    int covered = 0;
    for (int k = 0; k < COUNT(kCalls); ++k) covered |= strcmp(kCalls[k].name, name) == 0;
    covered |= strcmp(name, "Tarn_Decode_Initialize") == 0 || strcmp(name, "Tarn_Decode_InitializeH3") == 0 ||
               strcmp(name, "Tarn_Decode_Pause") == 0 || strcmp(name, "PlayM4_GetPlayPos") == 0;
    check(covered, "covered by the ABI client", name, 0, 1);
  }

  /* Tarn_Decode_Pause: head pointer in EAX, pause value in EDX. */
  void* pause = (void*)GetProcAddress(dll, "Tarn_Decode_Pause");
  if (pause) {
    TFrameHead head;
    memset(&head, 0, sizeof head);
    head.DvrType = 1;
    head.Group = 4;
    int32_t moved = 12345;
    int32_t r = call_register(pause, &head, 1, &moved);
    check(r == -1, "result without engine", "Tarn_Decode_Pause", r, -1);
    check(moved == 0, "nothing on the stack", "Tarn_Decode_Pause", moved, 0);
  }

  /* PlayM4_GetPlayPos: the double comes back on the FPU stack. */
  void* pos = (void*)GetProcAddress(dll, "PlayM4_GetPlayPos");
  if (pos) {
    int32_t moved = 12345;
    double d = call_fpu_result(pos, 3, &moved);
    check(d == 0.0, "FPU result without engine (x1000)", "PlayM4_GetPlayPos", (long long)(d * 1000), 0);
    check(moved == 0, "callee pops its arguments", "PlayM4_GetPlayPos", moved, 0);
  }

  /* A typed call through the header's own declarations: a head passed by value. */
  typedef int32_t(ZORV_STDCALL * AddFrameFn)(TFrameHead, const uint8_t*);
  AddFrameFn addFrame = (AddFrameFn)GetProcAddress(dll, "Tarn_Decode_AddFrame");
  if (addFrame) {
    TFrameHead head;
    memset(&head, 0, sizeof head);
    head.FrameType = ZORV_FRAME_FILEHEAD;
    head.DvrType = 13;
    head.Group = 4;
    static const uint8_t data[4] = {1, 2, 3, 4};
    head.DataLen = sizeof data;
    int32_t r = addFrame(head, data);
    check(r == -1, "typed head-by-value call without engine", "Tarn_Decode_AddFrame", r, -1);
  }

  check(FreeLibrary(dll) != 0, "FreeLibrary", path, 0, 1);
  printf("%d passed, %d failed\n", passed, failed);
  fflush(stdout);
  return failed ? 1 : 0;
}
