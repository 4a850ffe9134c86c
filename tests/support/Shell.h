// Shell commands of the tests: what a command prints, and whether the peer tools that check our pictures
// are there.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

// What a shell command prints on its standard output.
inline std::string capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

inline bool haveImageMagick() {
    return std::system("command -v identify >/dev/null 2>&1 && command -v convert >/dev/null 2>&1") == 0;
}
