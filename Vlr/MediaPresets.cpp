// Brush presets and the medium of each image. A preset is a medium restored by name from
// "Data/Media/Presets/<name>.TalStr" the first time it is chosen and kept for the run, so that choosing it
// again reuses it with whatever the user changed on it meanwhile.
//
// The presets are kept here in a list of (name, medium) that the engine owns; the media are also named
// with their preset name (Tal_SetObjectName), so that a list object that finds members by name can take
// the list over.
#include "Vlr/Vlr.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Preset {
    std::string name;
    ULONG medium;
};

std::mutex presetLock;
std::vector<Preset> presets;

ULONG findPreset(const char* name) {
    std::lock_guard guard(presetLock);
    for (const Preset& p : presets)
        if (p.name == name) return p.medium;
    return 0;
}

// A preset name names a file in the presets folder and nothing else, and fits the name fields.
bool validPresetName(const char* name) {
    const size_t n = std::strlen(name);
    return n > 0 && n < TAL_NAME_FIELD && !std::strpbrk(name, "/\\:") && std::strcmp(name, "..") != 0;
}

ULONG restorePreset(const char* name) {
    const std::string path = std::string("Data/Media/Presets/") + name + ".TalStr";
    if (path.size() >= TAL_PATH_SIZE) return 0;
    ULONG medium = Tal_RestoreObjectFromDisk(path.c_str());
    // Only a medium will do: a file that makes anything else is not a preset.
    if (medium && !Tal_DoMethod(medium, TAL_GetMediaWidth)) {
        Tal_DisposeObject(medium);
        medium = 0;
    }
    if (!medium) return 0;
    Tal_DoMethod(medium, TAL_SetObjectName, name);
    std::lock_guard guard(presetLock);
    presets.push_back({name, medium});
    return medium;
}

} // namespace

ULONG Tal__SetImageMedia(Tal_Image* image, ULONG medium) {
    if (!image || !Tal_LockImageA(image, TAL_LOCK_EXCLUSIVE, 0)) return 0;
    const ULONG previous = image->media;
    image->media = medium;
    const char* name = reinterpret_cast<const char*>(Tal_DoMethod(medium, TAL_GetObjectName));
    if (name) Tal__CopyField(image->media_name, sizeof image->media_name, name);
    // A medium that paints the picture instead of the layers changes what the layers' paint means.
    if (Tal_DoMethod(previous, TAL_GetMediaSmearMode) != Tal_DoMethod(medium, TAL_GetMediaSmearMode))
        for (Tal_Image* layer = first_layer(image); layer; layer = next_layer(layer)) layer->fix_count++;
    Tal_UnlockImageA(image, TAL_LOCK_EXCLUSIVE, 0);
    return 1;
}

ULONG Tal__ChooseMediaPreset(Tal_Image* image, const char* name) {
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!base || !name || !name[0]) return 0;
    if (!validPresetName(name)) return 0;
    if (base->preset && std::strcmp(name, base->preset_name) == 0) return 1;
    ULONG preset = findPreset(name);
    const bool cached = preset != 0;
    if (!cached) preset = restorePreset(name);
    if (!preset) return 0; // the current medium stays
    base->preset = preset;
    Tal__CopyField(base->preset_name, sizeof base->preset_name, name);
    Tal_DoImageNotify(base->image_object, TAL_SetGlobalImageMediaName, base->preset_name);
    Tal__SetImageMedia(image, preset);
    {
        SemaphoreGuard guard(&base->listLock);
        for (Tal_Image* other = first_image(base); other; other = next_image(other))
            if (other != image) Tal_DoAsyncImageMethod(other, TAL_SetImageMedia, preset);
        // Restoring a preset applied its mode already; a cached one applies it again.
        const auto* mode = reinterpret_cast<const char*>(Tal_DoMethod(preset, TAL_GetMediaModeName));
        if (cached && mode && base->active_image && base->active_image->current_layer)
            Tal_DoAsyncImageMethod(base->active_image->current_layer, TAL_SetLayerMode, mode);
    }
    return 1;
}

void Tal__DisposeMediaPresets() {
    std::vector<Preset> gone;
    {
        std::lock_guard guard(presetLock);
        gone.swap(presets);
    }
    for (const Preset& p : gone) Tal_DisposeObject(p.medium);
    if (Tal_ImageBase* base = Tal_GetImageBase()) {
        base->preset = 0;
        base->preset_name[0] = 0;
    }
}
