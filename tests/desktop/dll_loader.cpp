// Loads the DLL named by its argument by bare name, as a program or a system
// DLL may: started beside a planted DLL of that name with Windows' search
// order, it loads the plant. The planted-DLL test runs it first to show that
// each plant works at all. Exits with 0 when the DLL was loaded, else 1.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    return LoadLibraryA(argv[1]) ? 0 : 1;
}
