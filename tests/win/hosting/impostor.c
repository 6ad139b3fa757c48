/* A DLL named Marvostell.dll without the module's export. */
__declspec(dllexport) int SomethingElse(void) { return 0; }
