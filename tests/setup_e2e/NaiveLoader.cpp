// The control of the planting test: loads each DLL named on its command line
// the naive way, LoadLibraryW with the bare name, from a folder that holds
// decoys of those names. Exits with the number of names that did not load.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    int failed = 0;
    for (int i = 1; i < argc; ++i)
        if (LoadLibraryW(argv[i]) == nullptr) ++failed;
    return failed;
}
