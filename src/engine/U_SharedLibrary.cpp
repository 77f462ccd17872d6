// libzorvdecoder.so: the exports themselves live in zorv_core (U_Exports, U_PlayM4), which is
// linked in whole; this unit only gives the shared library a source of its own.
