// Program entry.
#include "Tal/Tal.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Velura %s\n", VELURA_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("Usage: velura [--version] [image]\n");
            return 0;
        }
    }
    if (!Tal_Init()) return 1;
    Tal_CleanUp();
    return 0;
}
