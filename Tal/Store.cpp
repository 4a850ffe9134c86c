// Stored objects: the writer and the reader of the text form.
//
// An object is written as its class name, a brace, one line per persistent attribute (a getter whose
// counterpart is a setter) with the setter's name and the value, its members, and a closing brace.
// Texts that would not read back as they are written ("%s" values with commas, line ends, quotes,
// backslashes, comment markers, or a leading brace) are written in double quotes, with a backslash
// before each quote and backslash inside; the reader takes such a value back exactly.
#include "Tal/TalPrivate.h"
#include "host/dos.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxArguments = 16;
constexpr long kMaxStoredFile = 64L << 20; // stored texts are small; more is not one of ours

// Members, keywords and attributes the reader knows by name.
constexpr ULONG kGroupOrientation = 0x000201F4;
constexpr ULONG kTextMode = 0x0004001E;
constexpr ULONG kBitMapFile = 0x80000136;
constexpr ULONG kBitMapMask = 0x00080082;
constexpr ULONG kPopObject = 0x000C000A;

std::string_view withoutPrefix(const char* name) {
    std::string_view view(name);
    if (view.starts_with("Tal_")) view.remove_prefix(4);
    return view;
}

// The classes of an object's instance chain, outermost first. Walking the instances rather than the
// superclass pointers also reaches the attributes of superclasses registered after their subclass.
std::vector<Tal_Class*> classChain(ULONG handle) {
    std::vector<Tal_Class*> chain;
    for (int step = 0; handle && step < 64; step++) {
        Tal_Object* object = Tal__LockObjectInstanceQuiet(handle);
        if (!object) break;
        chain.push_back(object->objClass);
        handle = object->superObject;
        Tal_UnlockObjectInstance(object);
    }
    return chain;
}

const Tal_MethodEntry* findEntry(const Tal_Class* cls, ULONG id, ULONG kind) {
    const Tal_MethodEntry* entry = Tal_FindMethodFromId(cls, id);
    return entry && entry->kind == kind ? entry : nullptr;
}

template <typename F>
void forEachEntry(const Tal_Class* cls, F f) {
    if (!cls->methods) return;
    for (const Tal_MethodEntry* entry = cls->methods; entry->id; entry++) f(entry);
}

// ---------------------------------------------------------------------------------------------------
// Writing.

// Words print as the 32-bit values they stand for: "%ld" signed, "%lx" unsigned hexadecimal.
std::string formatNumber(const char* format, Tal_Word value) {
    char text[32];
    if (std::strcmp(format, "%lx") == 0)
        std::snprintf(text, sizeof text, "%" PRIx32, uint32_t(value));
    else
        std::snprintf(text, sizeof text, "%" PRId32, int32_t(uint32_t(value)));
    return text;
}

bool needsQuotes(std::string_view text) {
    if (!text.empty() && (text.front() == '{' || text.front() == '}')) return true;
    return text.find_first_of(",\n\r\t\"\\") != std::string_view::npos || text.find("//") != text.npos ||
           text.find("/*") != text.npos;
}

std::string formatText(const char* text) {
    if (!needsQuotes(text)) return text;
    std::string out = "\"";
    for (const char* p = text; *p; p++) {
        if (*p == '"' || *p == '\\') out += '\\';
        out += *p;
    }
    return out + '"';
}

void indent(Tal_StoreObjectData* context, LONG depth) {
    for (LONG i = 0; i < depth; i++) std::fputc('\t', context->file);
}

// ---------------------------------------------------------------------------------------------------
// Reading.

// Rewrites the text in place: backslash-n becomes a line feed, comments (nested /* */ and // to the end
// of the line), tabs, a blank before a tab and one carriage return before a character go. Inside a
// double-quoted stretch all of it is text, and \" and \\ stay as pairs.
void prepare(char* text) {
    char* out = text;
    bool quoted = false;
    for (char* p = text; *p;) {
        if (quoted) {
            if (p[0] == '\\' && (p[1] == '"' || p[1] == '\\')) {
                *out++ = *p++;
                *out++ = *p++;
            } else if (p[0] == '\\' && p[1] == 'n') {
                *out++ = '\n';
                p += 2;
            } else {
                if (*p == '"') quoted = false;
                *out++ = *p++;
            }
            continue;
        }
        if (p[0] == '\\' && p[1] == 'n') {
            *out++ = '\n';
            p += 2;
        } else if (p[0] == '/' && p[1] == '/') {
            while (*p && *p != '\n') p++;
        } else if (p[0] == '/' && p[1] == '*') {
            int depth = 0;
            do {
                if (p[0] == '/' && p[1] == '*') {
                    depth++;
                    p += 2;
                } else if (p[0] == '*' && p[1] == '/') {
                    depth--;
                    p += 2;
                } else {
                    p++;
                }
            } while (*p && depth > 0);
        } else if ((p[0] == '\r' && p[1]) || p[0] == '\t' || (p[0] == ' ' && p[1] == '\t')) {
            p++;
        } else {
            if (*p == '"') quoted = true;
            *out++ = *p++;
        }
    }
    *out = 0;
}

// Splits the text at commas and line feeds outside double-quoted stretches; empty tokens count.
std::vector<char*> tokenise(char* text) {
    std::vector<char*> tokens;
    char* start = text;
    bool quoted = false;
    for (char* p = text;; p++) {
        if (quoted) {
            if (p[0] == '\\' && (p[1] == '"' || p[1] == '\\'))
                p++;
            else if (*p == '"')
                quoted = false;
            if (*p) continue;
        }
        if (*p == '"') {
            quoted = true;
        } else if (*p == ',' || *p == '\n' || *p == 0) {
            bool end = *p == 0;
            *p = 0;
            tokens.push_back(start);
            start = p + 1;
            if (end) break;
        }
    }
    return tokens;
}

char* stripQuotes(char* token) {
    size_t n = std::strlen(token);
    if (n >= 2 && token[0] == '"' && token[n - 1] == '"') {
        token[n - 1] = 0;
        return token + 1;
    }
    return token;
}

// A "%s" argument loses one surrounding pair of quotes and its escapes.
char* unquote(char* token) {
    size_t n = std::strlen(token);
    if (n < 2 || token[0] != '"') return token;
    size_t close = 1;
    auto escaped = [&](size_t i) {
        return token[i] == '\\' && (token[i + 1] == '"' || token[i + 1] == '\\');
    };
    while (close < n && token[close] != '"') close += escaped(close) ? 2 : 1;
    if (close != n - 1) return token; // no closing quote at the very end: not a quoted value
    char* out = token;
    for (size_t i = 1; i < close; i++) {
        if (escaped(i)) i++;
        *out++ = token[i];
    }
    *out = 0;
    return token;
}

// The entry a method line names: in the current object's chain first, then in every class.
const Tal_MethodEntry* methodNamed(ULONG current, const char* name) {
    std::string_view wanted = withoutPrefix(name);
    if (wanted.empty()) return nullptr;
    for (Tal_Class* cls : classChain(current)) {
        const Tal_MethodEntry* found = nullptr;
        forEachEntry(cls, [&](const Tal_MethodEntry* entry) {
            if (!found && entry->name && withoutPrefix(entry->name) == wanted) found = entry;
        });
        if (found) return found;
    }
    return Tal_FindMethodFromString(nullptr, name);
}

// The conversions of an argument format, in order: 's', 'd' (signed decimal) or 'x'.
std::vector<char> conversions(const char* format) {
    std::vector<char> out;
    for (const char* p = format; p && *p; p++) {
        if (p[0] != '%') continue;
        if (p[1] == 's') out.push_back('s');
        if (p[1] == 'l' && p[2] == 'd') out.push_back('d');
        if (p[1] == 'l' && p[2] == 'x') out.push_back('x');
    }
    return out;
}

// A number is blanks, an optional sign, the digits of its base ("%ld": 0x hexadecimal, a leading 0
// octal, else decimal; "%lx": hexadecimal) and blanks, and fits 32 bits, signed or unsigned. Anything
// else is no value of the attribute: false, and the line is not applied.
bool convertNumber(char kind, const char* token, Tal_Word* value) {
    if (!token) return false;
    while (*token == ' ') token++;
    const bool negative = *token == '-';
    if (*token == '-' || *token == '+') token++;
    if (!std::isxdigit(UBYTE(*token))) return false; // no second sign, no blank before the digits
    char* end = nullptr;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(token, &end, kind == 'x' ? 16 : 0);
    if (errno || end == token) return false;
    while (*end == ' ') end++;
    if (*end || magnitude > (negative ? 0x80000000ull : 0xFFFFFFFFull)) return false;
    const uint32_t bits = uint32_t(negative ? 0 - magnitude : magnitude);
    *value = kind == 'x' ? Tal_Word(bits) : Tal_Word(intptr_t(int32_t(bits)));
    return true;
}

bool convert(char kind, char* token, Tal_Word* value) {
    static char empty[] = "";
    if (kind != 's') return convertNumber(kind, token, value);
    *value = reinterpret_cast<Tal_Word>(token ? unquote(token) : empty);
    return true;
}

// How deep the objects of the text would nest: each "{" token opens, each "}" token closes.
size_t nesting(const std::vector<char*>& tokens) {
    size_t depth = 0, deepest = 0;
    for (const char* token : tokens) {
        if (token[0] == '{') deepest = std::max(deepest, ++depth);
        if (token[0] == '}' && depth > 0) depth--;
    }
    return deepest;
}

} // namespace

// ---------------------------------------------------------------------------------------------------

ULONG Tal__InternalStoreObjectMethods(ULONG handle, Tal_StoreObjectData* context) {
    std::vector<ULONG> written;
    for (Tal_Class* cls : classChain(handle)) {
        forEachEntry(cls, [&](const Tal_MethodEntry* getter) {
            if (getter->kind != TAL_METHOD_GETTER || !getter->counterpart) return;
            const Tal_MethodEntry* setter = findEntry(cls, getter->counterpart, TAL_METHOD_SETTER);
            if (!setter || !setter->name) return;
            if (std::find(written.begin(), written.end(), getter->id) != written.end()) return;
            written.push_back(getter->id);
            Tal_Word value = Tal_DoMethod(handle, getter->id);
            const char* format = getter->resultFormat ? getter->resultFormat : "%ld";
            std::string text;
            if (std::strcmp(format, "%s") == 0) {
                if (!value) return;
                text = formatText(reinterpret_cast<const char*>(value));
            } else {
                text = formatNumber(format, value);
            }
            indent(context, context->depth);
            std::fprintf(context->file, "%s,\t\t\t%s,\n", setter->name, text.c_str());
        });
    }
    return 1;
}

ULONG Tal__InternalStoreObject(ULONG handle, Tal_StoreObjectData* context) {
    auto* object = static_cast<Tal_Object*>(Tal__LockObjectInstanceQuiet(handle));
    if (!object) return 1;
    const char* name = object->objClass->name;
    Tal_UnlockObjectInstance(object);
    indent(context, context->depth);
    std::fprintf(context->file, "%s\n", name);
    indent(context, context->depth);
    std::fputs("{\n", context->file);
    context->depth++;
    Tal__InternalStoreObjectMethods(handle, context);
    Tal_DoMethod(handle, TAL_StoreChildren, context);
    context->depth--;
    indent(context, context->depth);
    std::fputs("}\n", context->file);
    return 1;
}

ULONG Tal_StoreObjectToDisk(ULONG handle, const char* fileName, ULONG) {
    if (!Tal_GetObjectInstance(handle)) return 0;
    Tal_SafeSave save;
    FILE* file = Tal_SafeSaveOpen(&save, fileName, "w");
    if (!file) return 0;
    Tal_StoreObjectData context{file, 0, 0, 1};
    Tal_DoMethod(handle, TAL_StoreObject, &context);
    return Tal_SafeSaveCommit(&save);
}

char* Tal_StoreObjectToBuffer(ULONG handle, ULONG* size, ULONG) {
    if (!Tal_GetObjectInstance(handle)) return nullptr;
    char* stream = nullptr;
    size_t length = 0;
    FILE* file = open_memstream(&stream, &length);
    if (!file) return nullptr;
    Tal_StoreObjectData context{file, 0, 0, 1};
    Tal_DoMethod(handle, TAL_StoreObject, &context);
    bool ok = !std::ferror(file);
    ok = std::fclose(file) == 0 && ok && length < 0xFFFFFFFFu;
    char* text = ok ? static_cast<char*>(Tal_AllocMem(length + 1)) : nullptr;
    if (text) {
        std::memcpy(text, stream, length);
        text[length] = 0;
        if (size) *size = ULONG(length);
    }
    std::free(stream);
    return text;
}

void Tal_FreeStoredObjectBuffer(char* text) {
    Tal_FreeMem(text);
}

ULONG Tal_RestoreObjectFromDisk(const char* fileName) {
    FILE* file = Tal_OpenFile(fileName, "r");
    if (!file) return 0;
    long size = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    char* text = nullptr;
    size_t got = 0;
    if (size > 0 && size <= kMaxStoredFile && std::fseek(file, 0, SEEK_SET) == 0) {
        text = static_cast<char*>(Tal_AllocMemClear(size_t(size) + 16));
        if (text) got = std::fread(text, 1, size_t(size), file);
    }
    bool readError = std::ferror(file);
    std::fclose(file);
    if (!text || readError || got == 0) {
        if (size > kMaxStoredFile) KPrintF("Tal_RestoreObjectFromDisk: %s is too large\n", fileName);
        Tal_FreeMem(text);
        return 0;
    }
    text[got] = 0;
    ULONG result = Tal_CreateObjectsFromString(text);
    if (result)
        Tal_DoMethod(result, TAL_SetStoredText, text);
    else
        Tal_FreeMem(text);
    return result;
}

ULONG Tal_CreateObjectsFromString(char* text) {
    if (!text) return 0;
    prepare(text);
    std::vector<char*> tokens = tokenise(text);
    // Deeper nesting is no text of ours but a damaged (or hostile) one: refused before anything is made.
    if (nesting(tokens) > TAL_MAX_STORED_NESTING) {
        KPrintF("Tal_CreateObjectsFromString: objects nested deeper than %zu: refused\n",
                TAL_MAX_STORED_NESTING);
        return 0;
    }
    const size_t n = tokens.size();
    auto token = [&](size_t i) { return i < n ? tokens[i] : nullptr; };
    std::vector<ULONG> open;
    std::vector<ULONG> parentless; // objects only the result may be among; the rest nobody could reach
    ULONG current = 0, result = 0;
    bool refused = false;
    auto added = [&](ULONG object) {
        if (!current && object) parentless.push_back(object);
        return object;
    };

    for (size_t i = 0; i < n;) {
        char* tok = tokens[i];
        if (tok[0] == '}') {
            if (!open.empty()) open.pop_back();
            current = open.empty() ? 0 : open.back();
            i++;
            continue;
        }
        if (token(i + 1) && token(i + 1)[0] == '{') {
            // Arguments that look like braces can make the count above miss an open: still never deeper.
            if (open.size() >= TAL_MAX_STORED_NESTING) {
                refused = true;
                break;
            }
            ULONG object;
            if (std::strcmp(tok, "HGroup") == 0)
                object = Tal_AddObject(current, "Group", kGroupOrientation, 2);
            else if (std::strcmp(tok, "VGroup") == 0)
                object = Tal_AddObject(current, "Group", kGroupOrientation, 1);
            else
                object = Tal_AddObjectA(current, tok, nullptr);
            added(object);
            if (!result) result = object;
            open.push_back(object);
            current = object;
            i += 2;
            continue;
        }
        i++;
        if (std::strcmp(tok, "Tal_Text") == 0 || std::strcmp(tok, "Tal_MultiLineText") == 0 ||
            std::strcmp(tok, "Tal_FText") == 0) {
            char* label = token(i++);
            if (!label) break;
            if (tok[4] == 'F')
                added(Tal_AddObject(current, "Text", TAL_SetLabel, label, TAL_SetWeight, 0));
            else if (tok[4] == 'M')
                added(Tal_AddObject(current, "Text", TAL_SetLabel, stripQuotes(label), kTextMode, 4));
            else
                added(Tal_AddObject(current, "Text", TAL_SetLabel, stripQuotes(label)));
            continue;
        }
        if (std::strcmp(tok, "Tal_Picture") == 0 || std::strcmp(tok, "Tal_PictureNoMask") == 0) {
            char* file = token(i++);
            if (!file) break;
            if (tok[11] == 'N')
                added(Tal_AddObject(current, "BitMap", kBitMapMask, 0, kBitMapFile, file));
            else
                added(Tal_AddObject(current, "BitMap", kBitMapFile, file));
            continue;
        }
        if (std::strcmp(tok, "Tal_StartPopObject") == 0 || std::strcmp(tok, "Tal_EndPopObject") == 0) {
            Tal_DoMethod(current, kPopObject, tok[4] == 'S' ? 1 : 0);
            continue;
        }
        const Tal_MethodEntry* entry = methodNamed(current, tok);
        if (!entry) continue;
        Tal_Word args[kMaxArguments + 1] = {};
        std::vector<char> kinds = conversions(entry->argFormat);
        bool valid = true;
        for (size_t a = 0; a < kinds.size() && a < kMaxArguments; a++)
            valid = convert(kinds[a], token(i++), &args[a]) && valid;
        i++; // the empty token after the trailing comma
        if (valid) Tal_DoMethodA(current, entry->id, args);
    }
    // A second root, or members of an object that could not be created, would be lost: they go.
    for (ULONG object : parentless)
        if (object != result || refused) Tal_DisposeObject(object);
    return refused ? 0 : result;
}

ULONG Tal_CopyObjectToObject(ULONG destination, ULONG source) {
    auto* to = static_cast<Tal_Object*>(Tal__LockObjectInstanceQuiet(destination));
    auto* from = static_cast<Tal_Object*>(Tal__LockObjectInstanceQuiet(source));
    bool same = to && from && to->objClass == from->objClass;
    if (to) Tal_UnlockObjectInstance(to);
    if (from) Tal_UnlockObjectInstance(from);
    if (!same) return 0;
    std::vector<ULONG> copied;
    for (Tal_Class* cls : classChain(source)) {
        forEachEntry(cls, [&](const Tal_MethodEntry* setter) {
            if (setter->kind != TAL_METHOD_SETTER || !setter->counterpart) return;
            if (!findEntry(cls, setter->counterpart, TAL_METHOD_GETTER)) return;
            if (std::find(copied.begin(), copied.end(), setter->id) != copied.end()) return;
            copied.push_back(setter->id);
            Tal_DoMethod(destination, setter->id, Tal_DoMethod(source, setter->counterpart));
        });
    }
    return 1;
}
