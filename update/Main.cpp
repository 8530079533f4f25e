// Entry of the updater. The update strip is not built yet: the program starts and ends.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return 0; }
