// etfc: compiles a readable catalogue source (see tools/Velura.catalogue for the format) into the
// catalogue file the program loads at start-up.
//
//   etfc [--ident TEXT] SOURCE OUTPUT
//
// The output is written to a temporary file beside it and renamed into place, so that builds running
// at the same time never see half a file. Exit code 0 on success, 1 with a message on any error.
#include "tools/etfWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct Source {
    std::vector<std::string> texts;
    std::vector<bool> given;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Appends the code point as one Latin-1 byte; the program's texts are 8-bit.
bool appendLatin1(std::string& out, uint32_t cp, std::string& error) {
    if (cp == 0 || cp > 0xFF) {
        error = cp ? "character beyond Latin-1" : "zero byte in a text";
        return false;
    }
    out.push_back(char(cp));
    return true;
}

// Decodes one text: UTF-8 with the escapes \n \t \r \\ and \xHH (a Latin-1 byte).
bool decodeText(const std::string& in, std::string& out, std::string& error) {
    out.clear();
    for (size_t i = 0; i < in.size();) {
        auto c = uint8_t(in[i]);
        if (c == '\\') {
            if (i + 1 >= in.size()) {
                error = "backslash at the end of a text";
                return false;
            }
            char e = in[i + 1];
            i += 2;
            if (e == 'n') {
                out.push_back('\n');
            } else if (e == 't') {
                out.push_back('\t');
            } else if (e == 'r') {
                out.push_back('\r');
            } else if (e == '\\') {
                out.push_back('\\');
            } else if (e == 'x' && i + 1 < in.size() && hexDigit(in[i]) >= 0 && hexDigit(in[i + 1]) >= 0) {
                if (!appendLatin1(out, uint32_t(hexDigit(in[i]) * 16 + hexDigit(in[i + 1])), error))
                    return false;
                i += 2;
            } else {
                error = std::string("unknown escape \\") + e;
                return false;
            }
            continue;
        }
        if (c < 0x80) {
            out.push_back(char(c));
            i++;
            continue;
        }
        int more = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (more < 0 || i + size_t(more) >= in.size()) {
            error = "invalid UTF-8";
            return false;
        }
        uint32_t cp = c & (0x3F >> more);
        for (int k = 1; k <= more; k++) {
            auto d = uint8_t(in[i + k]);
            if ((d & 0xC0) != 0x80) {
                error = "invalid UTF-8";
                return false;
            }
            cp = (cp << 6) | (d & 0x3F);
        }
        if (!appendLatin1(out, cp, error)) return false;
        i += size_t(more) + 1;
    }
    return true;
}

// Reads "NUMBER<TAB>TEXT" lines; '#' starts a comment line; blank lines are skipped.
bool parseSource(std::istream& in, const std::string& sourceName, Source& src, std::string& error) {
    std::string line;
    for (int lineNo = 1; std::getline(in, line); lineNo++) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto fail = [&](const std::string& why) {
            error = sourceName + ":" + std::to_string(lineNo) + ": " + why;
            return false;
        };
        if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
        size_t digits = 0;
        uint32_t number = 0;
        while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9') {
            number = number * 10 + uint32_t(line[digits] - '0');
            if (number >= TAL_CATALOGUE_MAX_COUNT) return fail("text number too large");
            digits++;
        }
        if (digits == 0 || digits >= line.size() || line[digits] != '\t')
            return fail("expected a text number, a tab and the text");
        std::string text;
        std::string why;
        if (!decodeText(line.substr(digits + 1), text, why)) return fail(why);
        if (number >= src.texts.size()) {
            src.texts.resize(number + 1);
            src.given.resize(number + 1);
        }
        if (src.given[number]) return fail("text " + std::to_string(number) + " given twice");
        src.texts[number] = std::move(text);
        src.given[number] = true;
    }
    if (in.bad()) {
        error = sourceName + ": read error";
        return false;
    }
    return true;
}

// Writes the bytes to a temporary file in the target's directory, then renames it over the target.
bool writeAtomically(const std::string& path, const std::string& bytes, std::string& error) {
    std::filesystem::path target(path);
    std::error_code ec;
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
    std::string temp = path + ".tmp" + std::to_string(getpid());
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        error = temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
    if (ok && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    error = path + ": " + std::strerror(errno);
    std::remove(temp.c_str());
    return false;
}

int usage() {
    std::fprintf(stderr, "usage: etfc [--ident TEXT] SOURCE OUTPUT\n");
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string ident;
    std::vector<std::string> args;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--ident") {
            if (++i >= argc) return usage();
            ident = argv[i];
        } else {
            args.push_back(a);
        }
    }
    if (args.size() != 2) return usage();

    std::ifstream in(args[0], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "etfc: cannot open %s\n", args[0].c_str());
        return 1;
    }
    Source src;
    std::string error;
    std::string bytes;
    if (!parseSource(in, args[0], src, error) ||
        !etf::buildCatalogue(src.texts, {}, args[1], ident, bytes, error) ||
        !writeAtomically(args[1], bytes, error)) {
        std::fprintf(stderr, "etfc: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
