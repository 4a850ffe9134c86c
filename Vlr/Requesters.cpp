// The engine's smaller dialogs: the picture information requester, the welcome requester, snapping to a
// grid, the about box and the out-of-memory message.
#include "Vlr/Requesters.h"

#include "Tal/Catalogue.h"
#include "host/dos.h"
#include "host/intuition.h"
#include "talio/talio.h"
#include "ui/ui.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr Tag kRequesterWidth = 0x000901A4;
constexpr ULONG kDisposeAfter = 0x10;
constexpr ULONG kWindowClass = 0x00090000;
constexpr ULONG kStartPicture = 160; // the program's start picture

const char* text(ULONG number) {
    return Tal_GetCatalogueText(number);
}

ULONG mainWindow() {
    Tal_ImageBase* base = Tal_GetImageBase();
    return base ? base->main_window : 0;
}

// ---------------------------------------------------------------------------------------------------
// Picture information.

// A field of the picture information record as the requester edits it. Lists (several pieces joined by
// "\n" in the record) show their pieces joined by "; ".
struct InfoField {
    const char* label;
    size_t offset;
    size_t size;
    int page; // 1 "Headline", 2 "Caption", 3 "Category"
    bool list;
};

#define INFO(name) offsetof(TALIO_IPTCInfo, name), sizeof(TALIO_IPTCInfo::name)
constexpr InfoField kInfoFields[] = {
    {"Headline", INFO(headline), 1, false},
    {"Object Name", INFO(object_name), 1, false},
    {"Byline", INFO(byline), 1, false},
    {"Byline Title", INFO(byline_title), 1, false},
    {"Credit", INFO(credit), 1, false},
    {"Source", INFO(source), 1, false},
    {"Copyright", INFO(copyright_notice), 1, false},
    {"Caption", INFO(caption), 2, false},
    {"Caption Writer", INFO(writer_editor), 2, false},
    {"Category", INFO(category), 3, false},
    {"Supplemental Categories", INFO(supplemental_categories), 3, true},
    {"Keywords", INFO(keywords), 3, true},
    {"Special Instructions", INFO(special_instructions), 3, false},
};
#undef INFO
constexpr const char* kInfoPages[] = {"File", "Headline", "Caption", "Category"};
constexpr size_t kFieldLimit = 255; // what a text field holds

// A field's text: at most its size (it has no end mark when it fills the field).
std::string fieldText(const TALIO_IPTCInfo& record, const InfoField& f) {
    const char* at = reinterpret_cast<const char*>(&record) + f.offset;
    std::string t(at, strnlen(at, f.size));
    if (f.list)
        for (size_t i = 0; (i = t.find('\n', i)) != std::string::npos; i += 2) t.replace(i, 1, "; ");
    return t;
}

// The typed text into the record's field: pieces of a list trimmed and joined by "\n" (empty ones
// dropped), the whole cut to the field, the rest of the field zero.
void storeField(TALIO_IPTCInfo* record, const InfoField& f, const std::string& typed) {
    std::string t = typed;
    if (f.list) {
        std::string joined;
        size_t start = 0;
        while (start <= t.size()) {
            size_t end = std::min(t.find(';', start), t.size());
            std::string piece = t.substr(start, end - start);
            piece.erase(0, piece.find_first_not_of(' '));
            piece.erase(piece.find_last_not_of(' ') + 1);
            if (!piece.empty()) joined += (joined.empty() ? "" : "\n") + piece;
            start = end + 1;
        }
        t = joined;
    }
    char* at = reinterpret_cast<char*>(record) + f.offset;
    std::memset(at, 0, f.size);
    std::memcpy(at, t.data(), std::min(t.size(), f.size));
}

// What the File page shows, read under the image's lock; the texts live as long as the requester.
struct FilePage {
    std::string name, type, dimensions, layers, memory;
};

FilePage describe(const Tal_Image* image) {
    FilePage p;
    p.name = FilePart(image->file_path);
    p.type.assign(image->file_type, strnlen(image->file_type, sizeof image->file_type));
    char line[64];
    std::snprintf(line, sizeof line, "%ld x %ld Pixels", long(image->width), long(image->height));
    p.dimensions = line;
    const uint64_t area = uint64_t(image->width) * uint64_t(image->height);
    uint64_t bytes = area * 6;
    long layers = 0;
    for (const Tal_Image* l = first_layer(image); l; l = next_layer(l), layers++)
        bytes += uint64_t(l->width) * uint64_t(l->height) * (l->kind == TAL_PAINT_LAYER ? 1 : 4);
    std::snprintf(line, sizeof line, "%ld", layers);
    p.layers = line;
    std::snprintf(line, sizeof line, "%lluKB", static_cast<unsigned long long>(bytes / 1024));
    p.memory = line;
    return p;
}

ULONG plainText(const char* label) {
    return Tal_CreateObject("Text", TAL_SetLabel, label, TAL_SetWeight, 0, TAL_SetTextMode, TAL_TEXT_PLAIN);
}

// A row of a page: the label, then the value; a value that does not stretch is followed by room.
ULONG addRow(ULONG page, const char* label, ULONG value, bool stretches) {
    const ULONG row =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupSpacing, 4);
    bool ok =
        row && Tal_DoMethod(row, TAL_AddTail, plainText(label)) && Tal_DoMethod(row, TAL_AddTail, value);
    if (ok && !stretches) ok = Tal_DoMethod(row, TAL_AddTail, Tal_CreateObject("Space")) != 0;
    if (!ok || !Tal_DoMethod(page, TAL_AddTail, row)) {
        if (!Tal_GetParentObject(value)) Tal_DisposeObject(value);
        Tal_DisposeObject(row);
        return 0;
    }
    return 1;
}

// The four pages; the fields' handles in `fields`, in the order of kInfoFields. None when a part
// cannot be made.
ULONG infoContents(const FilePage& file, const std::vector<std::string>& shown, ULONG* fields) {
    ULONG tabs = Tal_CreateObject("Pages", TAL_AddingPageLabels, 1);
    bool ok = tabs != 0;
    for (const char* name : kInfoPages)
        ok = ok && Tal_DoMethod(tabs, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, name));
    ULONG pages[std::size(kInfoPages)] = {};
    if (ok) Tal_DoMethod(tabs, TAL_AddingPageLabels, 0);
    for (ULONG& page : pages) {
        page = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 2,
                                TAL_SetGroupMargin, 2);
        ok = ok && page && Tal_DoMethod(tabs, TAL_AddTail, page);
    }
    const std::pair<const char*, const std::string*> fileRows[] = {
        {"File Name:", &file.name},  {"File Type:", &file.type},          {"Dimensions:", &file.dimensions},
        {"Display Depth:", nullptr}, {"Number of Layers:", &file.layers}, {"Memory Used:", &file.memory}};
    for (const auto& [label, value] : fileRows) {
        const char* shownValue = value ? value->c_str() : "24 Bits per Pixel";
        ok = ok && addRow(pages[0], label, plainText(shownValue), false);
    }
    for (size_t i = 0; i < std::size(kInfoFields); i++) {
        const InfoField& f = kInfoFields[i];
        // Typing is not limited to the record's field (a field of a few characters would ask for its whole
        // width on the screen); OK cuts what is too long.
        fields[i] = Tal_CreateObject("StringEdit", TAL_SetStringMaxChars, kFieldLimit, TAL_SetString,
                                     shown[i].c_str());
        ok = ok && fields[i] && addRow(pages[f.page], f.label, fields[i], true);
    }
    for (ULONG page : pages) ok = ok && Tal_DoMethod(page, TAL_AddTail, Tal_CreateObject("Space"));
    if (!ok) {
        for (ULONG page : pages)
            if (page && !Tal_GetParentObject(page)) Tal_DisposeObject(page);
        Tal_DisposeObject(tabs);
        return 0;
    }
    return tabs;
}

// ---------------------------------------------------------------------------------------------------
// The welcome requester.

struct WelcomeButton {
    const char* label;
    ULONG command;
    ULONG* chosen;
};

// A big button ends the requester and names its command.
Tal_Word welcomeChosen(Tal_Word user, ULONG source, ULONG, const Tal_Word*) {
    auto* b = reinterpret_cast<WelcomeButton*>(user);
    __atomic_store_n(b->chosen, b->command, __ATOMIC_SEQ_CST);
    if (const ULONG window = Tal_SearchHierachyForClassId(source, kWindowClass))
        Tal_DoMethod(window, TAL_EndRequester, 1);
    return 0;
}

// A field's value in whole pixels within the limits; `old` when it holds no number.
LONG wholePixels(ULONG field, LONG old, LONG low, LONG high) {
    const float v = Tal_ULONGToFloat(ULONG(Tal_DoMethod(field, TAL_GetMeasurementValue)));
    if (!std::isfinite(v)) return old;
    return LONG(std::clamp<double>(std::lround(double(v)), low, high));
}

} // namespace

ULONG Tal_ShowImageInfoReq(Tal_Image* image) {
    if (!Tal_LockImageA(image, TAL_LOCK_READ, 0)) return 0;
    const FilePage file = describe(image);
    TALIO_IPTCInfo record{};
    if (image->info_record) std::memcpy(&record, image->info_record, sizeof record);
    Tal_UnlockImageA(image, TAL_LOCK_READ, 0);

    std::vector<std::string> shown;
    for (const InfoField& f : kInfoFields) shown.push_back(fieldText(record, f));
    ULONG fields[std::size(kInfoFields)] = {};
    const ULONG contents = infoContents(file, shown, fields);
    if (!contents) return 0;
    // What each field holds at first (it may be less than the record's text).
    for (size_t i = 0; i < std::size(kInfoFields); i++)
        shown[i] = reinterpret_cast<const char*>(Tal_DoMethod(fields[i], TAL_GetString));
    const ULONG ok = Tal_ShowRequester("Image Information", contents, 1, mainWindow(), 0);
    // Only what the user changed is written back: a field holds less than some texts of the record.
    std::vector<size_t> changed;
    bool anyText = false;
    for (size_t i = 0; ok && i < std::size(kInfoFields); i++) {
        const auto* now = reinterpret_cast<const char*>(Tal_DoMethod(fields[i], TAL_GetString));
        const std::string typed = now ? now : "";
        if (typed == shown[i]) continue;
        storeField(&record, kInfoFields[i], typed);
        changed.push_back(i);
        anyText = anyText || !typed.empty();
    }
    Tal_DisposeObject(contents);
    if (changed.empty() || !Tal_LockImageA(image, TAL_LOCK_EXCLUSIVE, 0)) return ok;
    if (!image->info_record && anyText) image->info_record = Tal_AllocMemClear(sizeof(TALIO_IPTCInfo));
    if (auto* target = static_cast<char*>(image->info_record)) {
        for (size_t i : changed) {
            const InfoField& f = kInfoFields[i];
            std::memcpy(target + f.offset, reinterpret_cast<const char*>(&record) + f.offset, f.size);
        }
        image->modified_count++;
    }
    Tal_UnlockImageA(image, TAL_LOCK_EXCLUSIVE, 0);
    return ok;
}

ULONG Tal_ShowStartupReq() {
    ULONG chosen = 0;
    WelcomeButton buttons[] = {{"Create a New Image", 60, &chosen},
                               {"Open an Existing Image", 51, &chosen},
                               {"Browse for Images", 139, &chosen},
                               {"Capture a Screen Grab", 64, &chosen}};
    const ULONG contents = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL,
                                            TAL_SetGroupSpacing, 6, TAL_SetGroupMargin, 6);
    if (!contents) return 0;
    for (WelcomeButton& b : buttons) {
        const ULONG button = Tal_CreateObjects(0, TAL_TREE_OBJECT, "Button", TAL_SetGroupMargin, 8,
                                               TAL_TREE_TEXT, b.label, TAL_TREE_CLOSE);
        if (!button || !Tal_DoMethod(contents, TAL_AddTail, button)) {
            Tal_DisposeObject(button);
            Tal_DisposeObject(contents);
            return 0;
        }
        // What the program cannot do now is greyed, as it is on the menu bar.
        if (!host_IsScreenCommandEnabled(b.command)) Tal_DoMethod(button, TAL_DisableObject);
        Tal_AddCallBackNotify(button, TAL_ButtonClicked, TAL_AnyValue, welcomeChosen, Tal_Word(&b));
    }
    const ULONG ok = Tal_ShowRequester("Welcome to Velura!", contents, 1, mainWindow(), kDisposeAfter);
    const ULONG command = __atomic_load_n(&chosen, __ATOMIC_SEQ_CST);
    Tal_ImageBase* base = Tal_GetImageBase();
    if (ok && command && base && base->screen_object)
        Tal_DoMethod(base->screen_object, TAL_ScreenMenuCommand, command);
    return ok;
}

ULONG Tal_ShowSnapToGridReq() {
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!base) return 0;
    ULONG enable = 0;
    ULONG fields[4] = {};
    // clang-format off
    const ULONG contents = Tal_CreateObjects(0,
        TAL_TREE_VGROUP, TAL_SetGroupSpacing, 3,
            TAL_TREE_OBJECT, "CheckBox", TAL_TREE_HANDLE, &enable, TAL_SetLabel, text(673), TAL_SetWeight, 0,
            TAL_TREE_CLOSE,
            TAL_TREE_HGROUP, TAL_SetWeight, 0, TAL_SetGroupSpacing, 4, TAL_TREE_LABEL, text(531),
                TAL_TREE_OBJECT, "MeasurementEdit", TAL_TREE_HANDLE, &fields[0], TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_HGROUP, TAL_SetWeight, 0, TAL_SetGroupSpacing, 4, TAL_TREE_LABEL, text(532),
                TAL_TREE_OBJECT, "MeasurementEdit", TAL_TREE_HANDLE, &fields[1], TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_HGROUP, TAL_SetWeight, 0, TAL_SetGroupSpacing, 4, TAL_TREE_LABEL, text(533),
                TAL_TREE_OBJECT, "MeasurementEdit", TAL_TREE_HANDLE, &fields[2], TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_HGROUP, TAL_SetWeight, 0, TAL_SetGroupSpacing, 4, TAL_TREE_LABEL, text(534),
                TAL_TREE_OBJECT, "MeasurementEdit", TAL_TREE_HANDLE, &fields[3], TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_OBJECT, "Space", TAL_TREE_CLOSE,
        TAL_TREE_CLOSE);
    // clang-format on
    if (!contents || !enable || !fields[0] || !fields[1] || !fields[2] || !fields[3]) {
        Tal_DisposeObject(contents);
        return 0;
    }
    // A grid size below 1 counts as 10.
    const LONG width = base->snap_width >= 1 ? base->snap_width : 10;
    const LONG height = base->snap_height >= 1 ? base->snap_height : 10;
    const LONG values[4] = {width, height, base->snap_x, base->snap_y};
    for (int i = 0; i < 4; i++)
        Tal_DoMethod(fields[i], TAL_SetMeasurementValue, Tal_FloatToULONG(float(values[i])));
    Tal_DoMethod(enable, TAL_SetChecked, base->snap_enabled ? 1 : 0);
    const ULONG ok = Tal_ShowRequester(text(530), contents, 2, mainWindow(), 0, kRequesterWidth, 150);
    if (ok) {
        base->snap_width = wholePixels(fields[0], width, 1, 32767);
        base->snap_height = wholePixels(fields[1], height, 1, 32767);
        base->snap_x = wholePixels(fields[2], base->snap_x, -32767, 32767);
        base->snap_y = wholePixels(fields[3], base->snap_y, -32767, 32767);
        base->snap_enabled = Tal_DoMethod(enable, TAL_GetChecked) ? 1 : 0;
    }
    Tal_DisposeObject(contents);
    return ok;
}

void Tal__AboutVelura() {
    const ULONG parent = mainWindow();
    ULONG button = 0;
    // clang-format off
    const ULONG window = parent ? Tal_CreateObjects(0,
        TAL_TREE_OBJECT, "Window", TAL_SetWindowTitle, "Velura", TAL_SetWindowX, 0xCECECECE, TAL_SetWindowY, 0,
            TAL_SetWindowType, 16, TAL_SetWindowDefaultW, 240, TAL_SetWindowDefaultH, 267,
            TAL_TREE_OBJECT, "Button", TAL_TREE_HANDLE, &button, TAL_SetGroupFrame, TAL_FRAME_FLAT,
                TAL_TREE_OBJECT, "BitMap", TAL_SetBitMapColour0, 0, TAL_SetBuiltInPicture, kStartPicture,
                TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
        TAL_TREE_CLOSE) : 0;
    // clang-format on
    // The picture stays until it is tapped, or the task is told to stop.
    Tal_AnswerWait* tapped = nullptr;
    if (window && button && Tal_DoMethod(parent, TAL_AddTail, window)) {
        tapped = Tal_AllocAnswerWait();
        Tal_ListenForAnswer(tapped, button, TAL_ButtonClicked);
        Tal_DoMethod(window, TAL_Start);
        Tal_WaitForAnswer(tapped);
        Tal_DoMethod(parent, TAL_RemoveMember, window);
    }
    Tal_DisposeObject(window);
    Tal_FreeAnswerWait(tapped);

    char version[64];
    std::snprintf(version, sizeof version, "Version 1.0, Release %ld", long(VELURA_RELEASE));
    // clang-format off
    const ULONG contents = Tal_CreateObjects(0,
        TAL_TREE_VGROUP, TAL_SetGroupSpacing, 4,
            TAL_TREE_TEXT, "Velura for Pocket PC",
            TAL_TREE_TEXT, version,
            TAL_TREE_TEXT, text(536),
            TAL_TREE_TEXT, text(537),
            TAL_TREE_TEXT, text(674),
            TAL_TREE_TEXT, text(675),
            TAL_TREE_TEXT, "The JPEG module is based in part on\nthe work of the Independant\nJPEG Group.",
        TAL_TREE_CLOSE);
    // clang-format on
    if (contents) Tal_ShowRequester(text(535), contents, 1, parent, kDisposeAfter);
}

void Tal_OutOfMemory(const char* message) {
    Tal_MessageBoxA("Error", message && *message ? message : "Sorry, out of memory.", 1);
}
