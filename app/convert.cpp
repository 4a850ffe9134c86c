// velura-convert: converts image files on the command line through the program's own loading (format
// detection included, the file becoming an image) and saving (the image's picture written by a saver).
// Quiet: no requester, no progress display, no view. Failures are reported with the program's own error
// texts; a failed save never leaves a partial output file.
//
// The core library's source list takes in every file of this folder but the program entry; the
// converter's entry is compiled only where VELURA_CONVERT_PROGRAM is defined (the velura-convert target).
#ifdef VELURA_CONVERT_PROGRAM

#include "Tal/Catalogue.h"
#include "ui/ui.h"
#include "Tal/Tal.h"
#include "host/dos.h"
#include "Vlr/ImageFile.h"
#include "talio/talio.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr char kUsage[] =
    "Usage: velura-convert IN... (-o OUT | -d DIR) [--format WORD] [--quality N] [--reduce 2|4|8]\n"
    "                      [--colours N] [--dither N] [--compression N] [--interlace]\n"
    "\n"
    "  -o OUT          the output file (one input only)\n"
    "  -d DIR          the output folder: each input keeps its name with the format's extension\n"
    "  --format WORD   the saver (JPEG, PNG, ILBM, IFFDEEP, ...); default: from OUT's extension (.iff and\n"
    "                  .ilbm ILBM, .deep IFFDEEP, .png PNG, ...), else JPEG\n"
    "  --quality N     JPEG quality, 1-100 (default 90)\n"
    "  --reduce N      load at 1/N of the width and height (JPEG files)\n"
    "  --colours N     GIF colours, 1-256 (default 256)\n"
    "  --dither N      GIF dithering, 0-100 percent (default 70)\n"
    "  --compression N PNG compression level, 0-9 (default 6)\n"
    "  --interlace     interlaced GIF, or PNG (Adam7)\n"
    "  --help          this text\n";

struct Options {
    std::vector<std::string> inputs;
    std::string output;    // -o
    std::string directory; // -d
    std::string format;
    long quality = 0;    // 0: the saver's default
    ULONG reduction = 0; // 0: full size
    long colours = -1;   // GIF and PNG options; -1: the saver's default
    long dithering = -1;
    long compression = -1;
    bool interlace = false;
};

int usageError(const std::string& why) {
    std::fprintf(stderr, "velura-convert: %s (see velura-convert --help)\n", why.c_str());
    return 2;
}

bool parseNumber(const std::string& text, long low, long high, long* value) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < low || v > high) return false;
    *value = v;
    return true;
}

// -1 when the options are fine, else the exit code.
int parseOptions(int argc, char** argv, Options* o) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            o->inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--interlace") {
            o->interlace = true;
            continue;
        }
        const bool takesValue = arg == "-o" || arg == "-d" || arg == "--format" || arg == "--quality" ||
                                arg == "--reduce" || arg == "--colours" || arg == "--dither" ||
                                arg == "--compression";
        if (!takesValue) return usageError("unknown option " + arg);
        if (i + 1 >= argc) return usageError(arg + " needs a value");
        const std::string value = argv[++i];
        long number = 0;
        if ((arg == "-o" && !o->output.empty()) || (arg == "-d" && !o->directory.empty()))
            return usageError(arg + " given twice");
        if (arg == "-o") {
            o->output = value;
        } else if (arg == "-d") {
            o->directory = value;
        } else if (arg == "--format") {
            o->format = value;
            std::transform(o->format.begin(), o->format.end(), o->format.begin(),
                           [](unsigned char c) { return char(std::toupper(c)); });
        } else if (arg == "--quality") {
            if (!parseNumber(value, 1, 100, &number)) return usageError("--quality wants 1-100");
            o->quality = number;
        } else if (arg == "--colours") {
            if (!parseNumber(value, 1, 256, &o->colours)) return usageError("--colours wants 1-256");
        } else if (arg == "--dither") {
            if (!parseNumber(value, 0, 100, &o->dithering)) return usageError("--dither wants 0-100");
        } else if (arg == "--compression") {
            if (!parseNumber(value, 0, 9, &number)) return usageError("--compression wants 0-9");
            o->compression = number;
        } else {
            if (!parseNumber(value, 2, 8, &number) || (number != 2 && number != 4 && number != 8))
                return usageError("--reduce wants 2, 4 or 8");
            o->reduction = ULONG(number) * 100;
        }
    }
    if (o->inputs.empty()) return usageError("no input file");
    if (o->output.empty() == o->directory.empty()) return usageError("give either -o OUT or -d DIR");
    if (!o->output.empty() && o->inputs.size() > 1) return usageError("-o takes one input; use -d DIR");
    return -1;
}

// Names on the command line are relative to the current directory; the program's are not.
std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

// The saver the output file's name asks for; JPEG for a name without an extension.
std::string formatFromName(const std::string& name) {
    const char* file = FilePart(name.c_str());
    const char* dot = std::strrchr(file, '.');
    if (!dot || dot == file) return "JPEG";
    char word[TAL_NAME_FIELD];
    return TALIO__SaverForFileName(name.c_str(), word, sizeof word) ? word : "";
}

// Whether the library's loader or saver list names the format word.
bool knownFormat(const std::string& word) {
    TALIO_GlobalData* global = TALIO_GetGlobalData();
    if (!global) return false;
    for (List* list : {&global->savers, &global->loaders})
        for (Node* node : ListNodes<Node>(list))
            if (node->ln_Name && word == node->ln_Name) return true;
    return false;
}

void reportFailure(const std::string& file, ULONG error, const char* text) {
    if (text && *text)
        std::fprintf(stderr, "velura-convert: %s: %s\n", file.c_str(), text);
    else
        std::fprintf(stderr, "velura-convert: %s: error %lu\n", file.c_str(),
                     static_cast<unsigned long>(error));
}

// Loads one picture as the program opens a file and saves it as the program saves an image; 0 or 1.
int convertOne(const std::string& input, const std::string& target, const std::string& word,
               ULONG reduction) {
    ULONG error = 0;
    const char* text = nullptr;
    const auto tags =
        Tal_MakeTags(TALIO_TAG_Reduction, reduction, TALIO_TAG_Error, &error, TAL_TAG_FileErrorText, &text);
    Tal_Image* image = Tal__LoadImageA(absolutePath(input).c_str(), 0, 0,
                                       TAL_LOAD_QUIET | TAL_LOAD_ONLY | TAL_LOAD_NO_VIEW, tags.data());
    if (!image) {
        reportFailure(input, error, text);
        return 1;
    }
    error = 0;
    text = nullptr;
    const ULONG saved = Tal__SaveImageA(image, target.c_str(), word.c_str(), 0, TAL_SAVE_QUIET, tags.data());
    Tal_DisposeObject(image->header.handle);
    if (saved) return 0;
    reportFailure(target, error, text);
    return 1;
}

// Converts every input; the exit code.
int convert(const Options& o) {
    std::string word = o.format;
    if (word.empty()) word = o.output.empty() ? "JPEG" : formatFromName(o.output);
    if (word.empty()) return usageError("cannot tell the format from " + o.output + "; give --format");
    const ULONG saver = Tal_CreateObject((word + "TALIO").c_str());
    if (!saver) {
        // A format the library knows whose saver is not part of the program yet, or no format at all.
        const ULONG error = knownFormat(word) ? TALIO_ERR_CANNOT_SAVE : TALIO_ERR_UNKNOWN;
        reportFailure(word, error, TALIO_ErrorText(error));
        return 2;
    }
    if (o.quality) {
        if (word != "JPEG") {
            Tal_DisposeObject(saver);
            return usageError("--quality applies to JPEG only");
        }
        // The format's options are the program's, for every save of the run.
        Tal_DoMethod(saver, JPEGTALIO_SetQuality, o.quality);
    }
    if (o.colours >= 0 || o.dithering >= 0 || o.compression >= 0 || o.interlace) {
        const bool gif = word == "GIF", png = word == "PNG";
        if ((!gif && !png) || (gif && o.compression >= 0) || (png && (o.colours >= 0 || o.dithering >= 0))) {
            Tal_DisposeObject(saver);
            return usageError("--colours and --dither apply to GIF only, --compression to PNG only, "
                              "--interlace to either");
        }
        if (gif) {
            if (o.colours >= 0) Tal_DoMethod(saver, GIFTALIO_SetColours, o.colours);
            if (o.dithering >= 0) Tal_DoMethod(saver, GIFTALIO_SetDithering, o.dithering);
            Tal_DoMethod(saver, GIFTALIO_SetInterlaced, o.interlace ? 1 : 0);
        } else {
            if (o.compression >= 0) Tal_DoMethod(saver, PNGTALIO_SetCompression, o.compression);
            if (o.interlace) Tal_DoMethod(saver, PNGTALIO_SetInterlace, 1);
        }
    }
    Tal_DisposeObject(saver);
    if (!o.directory.empty()) {
        Tal_FileInfo info;
        const std::string folder = absolutePath(o.directory);
        const bool found = Tal_GetFileInfo(folder.c_str(), &info) == 0;
        if (!found || !(info.flags & TAL_FILEINFO_DIRECTORY)) {
            std::fprintf(stderr, "velura-convert: %s: %s\n", o.directory.c_str(),
                         found ? "this is not a folder" : "the folder does not exist");
            return 1;
        }
    }
    std::set<std::string> written;
    int status = 0;
    for (const std::string& input : o.inputs) {
        std::string target = absolutePath(o.output);
        if (!o.directory.empty()) {
            // The file part takes the format's extension, then joins the folder.
            char name[PATH_MAX];
            Tal_AutoChangeFileExtension(FilePart(input.c_str()), name, sizeof name, word.c_str());
            if (!*name) {
                reportFailure(input, TALIO_ERR_OPEN, TAL_PATH_TOO_LONG_TEXT);
                status = 1;
                continue;
            }
            target = absolutePath(o.directory);
            if (!target.empty() && target.back() != '/') target += '/';
            target += name;
        }
        if (!written.insert(target).second) {
            std::fprintf(stderr, "velura-convert: %s: %s is written already\n", input.c_str(),
                         target.c_str());
            status = 1;
            continue;
        }
        status |= convertOne(input, target, word, o.reduction);
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (int code = parseOptions(argc, argv, &options); code >= 0) return code;
    // A file size limit must end in a reported write error, never in a killed process with half a file.
    std::signal(SIGXFSZ, SIG_IGN);

    Tal_UseInterfaceClasses();
    Tal_Init();
    // Registration is idempotent: the classes may have been registered by the object system already.
    Tal_InitImageClass();
    Tal_InitRootTALIOClass();
    Tal_InitBMPTALIOClass();
    Tal_InitJPEGTALIOClass();
    Tal_InitGIFTALIOClass();
    Tal_InitILBMTALIOClass();
    Tal_InitIFFDEEPTALIOClass();
    Tal_InitTARGATALIOClass();
    Tal_InitPNGTALIOClass();
    Tal__LoadCatalogue("Data/Lingua/Velura", "");
    TALIO_GlobalData* global = TALIO_Init(Tal_GetGlobalData());
    Tal_ImageBase* engine = global ? Tal__OpenImageEngine() : nullptr;
    int status = 2;
    if (engine)
        status = convert(options);
    else
        std::fprintf(stderr, "velura-convert: the image engine cannot start\n");
    if (engine) Tal__CloseImageEngine();
    TALIO_Cleanup(global);
    Tal__FreeCatalogue();
    Tal_CleanupPNGTALIOClass();
    Tal_CleanupTARGATALIOClass();
    Tal_CleanupIFFDEEPTALIOClass();
    Tal_CleanupILBMTALIOClass();
    Tal_CleanupGIFTALIOClass();
    Tal_CleanupJPEGTALIOClass();
    Tal_CleanupBMPTALIOClass();
    Tal_CleanupRootTALIOClass();
    Tal_CleanupImageClass();
    Tal_CleanUp();
    return status;
}

#endif
