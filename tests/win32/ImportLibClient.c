/* A client linked the ordinary way, against libZorvDecoder.dll.a and the header's declarations:
 * decorated stdcall references resolve to the DLL's plain exports, and the header's calling
 * conventions (head by value, Tarn_Decode_Pause by registers, a double returned on the FPU
 * stack) agree with the DLL. No engine exists, so each call gives its "no engine" value.
 * Ends with "N passed, M failed". */
#include <stdio.h>
#include <string.h>

#include "ZorvDecoder.h"

static int passed, failed;

static void check(int ok, const char* what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    printf("FAILED %s\n", what);
  }
}

int main(void) {
  TFrameHead head;
  memset(&head, 0, sizeof head);
  head.DvrType = 2;
  head.FrameType = ZORV_FRAME_I;
  head.Group = 4;
  TFrameHeadH3 h3;
  memset(&h3, 0, sizeof h3);
  h3.DvrType = 13;

  check(Tarn_Decode_ShutDown() == 0, "Tarn_Decode_ShutDown");
  check(Tarn_Decode_ClearBuffer(head) == -1, "Tarn_Decode_ClearBuffer");
  check(Tarn_Decode_CloseOneChannelH3(h3) == -1, "Tarn_Decode_CloseOneChannelH3");
  check(Tarn_Decode_ResetDisplay(head, 5) == -1, "Tarn_Decode_ResetDisplay");
  check(Tarn_Decode_Pause(&head, 1) == -1, "Tarn_Decode_Pause");
  check(Tarn_Decode_SetPlayMode(head, 1) == -1, "Tarn_Decode_SetPlayMode");
  check(PlayM4_SetVolume(3, 0xFFFF) == 1, "PlayM4_SetVolume");
  check(PlayM4_SetColor(3, 0, 1, 2, 3, 4) == -1, "PlayM4_SetColor");
  check(PlayM4_SetPlayPos(3, 0.5) == 0, "PlayM4_SetPlayPos");
  check(PlayM4_GetPlayPos(3) == 0.0, "PlayM4_GetPlayPos");
  check(PlayM4_OpenStream(3, 1, NULL, 0, 0) == 0, "PlayM4_OpenStream");
  check(Tarn_Decode_ShutDownH3() == 0, "Tarn_Decode_ShutDownH3");

  printf("%d passed, %d failed\n", passed, failed);
  fflush(stdout);
  return failed ? 1 : 0;
}
