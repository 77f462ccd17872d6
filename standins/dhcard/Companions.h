// The function VDCDecode.dll imports from each of its companion libraries (Companion.cpp).
#pragma once

extern "C" {
int DhCompanion_tmcrt(void);
int DhCompanion_tmman32(void);
int DhCompanion_pnx(void);
int DhCompanion_hostcomm(void);
int DhCompanion_DllMonitor(void);
}
