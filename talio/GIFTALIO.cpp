// GIFTALIO: GIF files. Loading reads both versions, interlaced or not, with global and local colour tables,
// into true-colour buffers; saving writes GIF89a from a true-colour picture reduced by the octree quantizer
// and mapped with serpentine error diffusion, or from a grey picture through a grey ramp.
//
// The save options are process-wide; each save reads them once and keeps its quantizer, mapper and coder
// state to itself, so saves may run in several threads at once. The exported quantizer and mapper
// (TALIO__ComputeBestColourmapA, TALIO__GetBufferData) share one process-wide state, guarded.
#include "talio/talio.h"

#include "ui/ui.h"
#include "talio/TALIOQuantize.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

Tal_Class gifClass;

struct GIFTALIOInstance {
    Tal_Object header;
};

constexpr ULONG kGifClassId = 7003;
constexpr ULONG kGifFlags = 1;
constexpr ULONG kMaxSide = 65535;

// Save options, process-wide for the run.
struct Options {
    ULONG colours;
    ULONG dithering;
    ULONG interlaced;
};
std::mutex optionsLock;
Options options{256, 70, 0};

Options currentOptions() {
    std::lock_guard guard(optionsLock);
    return options;
}

void setOption(ULONG Options::*field, Tal_Word value, intptr_t low, intptr_t high) {
    std::lock_guard guard(optionsLock);
    options.*field = ULONG(std::clamp<intptr_t>(intptr_t(value), low, high));
}

// ---------------------------------------------------------------------------------------------------
// LZW coding.

constexpr int kMaxBits = 12;
constexpr int kTableSize = 1 << kMaxBits;

// Unpacks the codes of a frame's data sub-blocks, least significant bit first.
class CodeReader {
  public:
    explicit CodeReader(TALIO_Header* header) : header_(header) {}
    // 1 with the code, 0 when the zero-length block ends the data, -1 when the file ends.
    int next(int bits, int* code) {
        while (held_ < bits) {
            if (at_ == length_) {
                UBYTE n = 0;
                if (TALIO_ReadBuffered(&n, 1, header_) != 1) return -1;
                if (n == 0) return 0;
                if (TALIO_ReadBuffered(block_, n, header_) != n) return -1;
                at_ = 0, length_ = n;
            }
            bits_ |= uint32_t(block_[at_++]) << held_;
            held_ += 8;
        }
        *code = int(bits_ & ((1u << bits) - 1));
        bits_ >>= bits;
        held_ -= bits;
        return 1;
    }

  private:
    TALIO_Header* header_;
    UBYTE block_[255];
    size_t at_ = 0, length_ = 0;
    uint32_t bits_ = 0;
    int held_ = 0;
};

// Skips data sub-blocks up to the zero-length one; false when the file ends first.
bool skipSubBlocks(TALIO_Header* header) {
    UBYTE block[255];
    for (;;) {
        UBYTE n = 0;
        if (TALIO_ReadBuffered(&n, 1, header) != 1) return false;
        if (n == 0) return true;
        if (TALIO_ReadBuffered(block, n, header) != n) return false;
    }
}

// The rows of a frame in the order its pixels come: in order, or the four passes of an interlaced frame
// (start rows 0, 4, 2, 1, steps 8, 8, 4, 2). Once the rows are used up it stays done.
class RowOrder {
  public:
    RowOrder(ULONG height, bool interlaced) : height_(height), interlaced_(interlaced) { settle(); }
    bool done() const { return pass_ >= 4; }
    ULONG row() const { return row_; }
    void advance() {
        if (done()) return;
        row_ += interlaced_ ? kStep[pass_] : 1;
        settle();
    }

  private:
    static constexpr ULONG kStart[4] = {0, 4, 2, 1};
    static constexpr ULONG kStep[4] = {8, 8, 4, 2};
    void settle() {
        while (!done() && row_ >= height_) {
            if (!interlaced_ || ++pass_ >= 4) {
                pass_ = 4;
                return;
            }
            row_ = kStart[pass_];
        }
    }
    ULONG height_;
    bool interlaced_;
    ULONG pass_ = 0;
    ULONG row_ = 0;
};

// Builds rows of indexes and stores each full one through the frame's colours.
class FrameRows {
  public:
    FrameRows(TALIO_Header* header, const ULONG* palette, bool interlaced)
        : header_(header), buffer_(header->buffer), palette_(palette),
          order_(header->buffer->height, interlaced), indexes_(header->buffer->width),
          rgb_(size_t(header->buffer->width) * 3) {
        step_ = header->progress_step ? header->progress_step : TALIO_ProgressStep(buffer_->height);
    }
    // Error number of the last stored row (1 while all is well).
    ULONG status() const { return status_; }
    void put(UBYTE index) {
        if (order_.done() || status_ != TALIO_OK) return;
        indexes_[column_++] = index;
        if (column_ == indexes_.size()) store();
    }

  private:
    void store() {
        column_ = 0;
        const ULONG y = order_.row();
        if (y % step_ == 0 && !TALIO_SetProgressDisplay(header_, y, buffer_->height)) {
            status_ = TALIO_ERR_CANCELLED;
            return;
        }
        for (size_t x = 0; x < indexes_.size(); x++) {
            const ULONG c = palette_[indexes_[x]];
            rgb_[3 * x] = UBYTE(c), rgb_[3 * x + 1] = UBYTE(c >> 8), rgb_[3 * x + 2] = UBYTE(c >> 16);
        }
        if (!TALIO_SetBufferData(buffer_, 0, y, buffer_->width, 1, ULONG(rgb_.size()), TALIO_PIXEL_RGB,
                                 rgb_.data()))
            status_ = TALIO_ERR_DAMAGED;
        order_.advance();
    }

    TALIO_Header* header_;
    TALIO_ImageBuffer* buffer_;
    const ULONG* palette_;
    RowOrder order_;
    std::vector<UBYTE> indexes_, rgb_;
    size_t column_ = 0;
    ULONG step_;
    ULONG status_ = TALIO_OK;
};

// Decodes one frame's LZW data (minimum code size 2..8) into the buffer. After the end code the rest of
// the data sub-blocks is skipped; once the table holds 4096 strings it takes no more until a clear code.
ULONG decodeFrame(TALIO_Header* header, int minimum, const ULONG* palette, bool interlaced) {
    struct Table {
        UWORD prefix[kTableSize];
        UBYTE suffix[kTableSize];
        UBYTE first[kTableSize];
        UWORD length[kTableSize];
        UBYTE string[kTableSize];
    };
    std::unique_ptr<Table> t(new (std::nothrow) Table);
    if (!t) return TALIO_ERR_MEMORY;
    const int clear = 1 << minimum, end = clear + 1;
    for (int i = 0; i < clear; i++) t->suffix[i] = t->first[i] = UBYTE(i), t->length[i] = 1;
    int bits = minimum + 1, next = clear + 2, previous = -1;
    CodeReader codes(header);
    FrameRows rows(header, palette, interlaced);

    auto put = [&](int code) {
        const int n = t->length[code];
        for (int i = n - 1; i >= 0; i--) {
            t->string[i] = t->suffix[code];
            code = t->prefix[code];
        }
        for (int i = 0; i < n; i++) rows.put(t->string[i]);
    };
    for (;;) {
        int code = 0;
        const int got = codes.next(bits, &code);
        if (got < 0) return TALIO_ERR_DAMAGED;
        if (got == 0) return rows.status(); // the data ended without an end code
        if (code == clear) {
            bits = minimum + 1, next = clear + 2, previous = -1;
            continue;
        }
        if (code == end) {
            skipSubBlocks(header); // a file that ends here ends the load after this frame
            return rows.status();
        }
        if (code > next || (code == next && previous < 0)) return TALIO_ERR_DAMAGED;
        if (previous < 0) {
            put(code);
        } else {
            // The new string is the previous one plus the first index of this one (of itself when it is
            // the string being made).
            const UBYTE first = code == next ? t->first[previous] : t->first[code];
            if (next < kTableSize) {
                t->prefix[next] = UWORD(previous);
                t->suffix[next] = first;
                t->first[next] = t->first[previous];
                t->length[next] = UWORD(t->length[previous] + 1);
                next++;
                if (next == (1 << bits) && bits < kMaxBits) bits++;
            }
            // Once the table is full a code equal to `next` cannot come (codes have at most 12 bits).
            put(code);
        }
        previous = code;
        if (rows.status() != TALIO_OK) return rows.status();
    }
}

// Collects the output of a save and writes it in large pieces; remembers a failed write.
class Output {
  public:
    explicit Output(TALIO_Header* header) : header_(header), data_(kChunk) {}
    void byte(UBYTE b) {
        data_[length_++] = b;
        if (length_ == kChunk) flush();
    }
    void bytes(const void* p, size_t n) {
        const auto* b = static_cast<const UBYTE*>(p);
        for (size_t i = 0; i < n; i++) byte(b[i]);
    }
    void word(UWORD w) { byte(UBYTE(w)), byte(UBYTE(w >> 8)); }
    void flush() {
        if (length_ && TALIO_WriteData(data_.data(), 1, length_, header_) != length_) failed_ = true;
        length_ = 0;
    }
    bool failed() const { return failed_; }

  private:
    static constexpr size_t kChunk = 1 << 16;
    TALIO_Header* header_;
    std::vector<UBYTE> data_;
    size_t length_ = 0;
    bool failed_ = false;
};

// The GIF form of the classic compress coder: an open-addressing hash of 5003 entries over (string code,
// next index); a clear code when the table is full; codes packed least significant bit first into
// sub-blocks of 254 bytes.
class LzwEncoder {
  public:
    LzwEncoder(Output& out, int minimum) : out_(out) {
        initialBits_ = minimum + 1;
        clear_ = 1 << minimum;
        end_ = clear_ + 1;
        bits_ = initialBits_;
        largest_ = (1 << bits_) - 1;
        free_ = clear_ + 2;
        std::fill(std::begin(hash_), std::end(hash_), -1);
        write(clear_);
    }
    void put(const UBYTE* indexes, ULONG n) {
        ULONG i = 0;
        if (current_ < 0 && n) current_ = indexes[i++];
        for (; i < n; i++) add(indexes[i]);
    }
    void finish() {
        if (current_ >= 0) write(current_);
        write(end_);
        if (held_ > 0) packet(UBYTE(bits_buffer_));
        if (length_) flushPacket();
        out_.byte(0);
    }

  private:
    static constexpr int kHashSize = 5003;

    void add(int c) {
        const int32_t key = (c << kMaxBits) + current_;
        int i = (c << 4) ^ current_;
        if (hash_[i] == key) {
            current_ = codes_[i];
            return;
        }
        if (hash_[i] >= 0) {
            const int step = i == 0 ? 1 : kHashSize - i;
            do {
                i -= step;
                if (i < 0) i += kHashSize;
                if (hash_[i] == key) {
                    current_ = codes_[i];
                    return;
                }
            } while (hash_[i] >= 0);
        }
        write(current_);
        current_ = c;
        if (free_ < kTableSize) {
            codes_[i] = UWORD(free_++);
            hash_[i] = key;
        } else {
            std::fill(std::begin(hash_), std::end(hash_), -1);
            free_ = clear_ + 2;
            cleared_ = true;
            write(clear_);
        }
    }
    void write(int code) {
        bits_buffer_ |= uint32_t(code) << held_;
        held_ += bits_;
        while (held_ >= 8) {
            packet(UBYTE(bits_buffer_));
            bits_buffer_ >>= 8;
            held_ -= 8;
        }
        // The size changes after the code that made the table outgrow it, and returns after a clear.
        if (cleared_) {
            bits_ = initialBits_;
            largest_ = (1 << bits_) - 1;
            cleared_ = false;
        } else if (free_ > largest_) {
            bits_++;
            largest_ = bits_ == kMaxBits ? kTableSize : (1 << bits_) - 1;
        }
    }
    void packet(UBYTE b) {
        block_[length_++] = b;
        if (length_ >= 254) flushPacket();
    }
    void flushPacket() {
        out_.byte(UBYTE(length_));
        out_.bytes(block_, length_);
        length_ = 0;
    }

    Output& out_;
    int initialBits_, clear_, end_, bits_, largest_, free_;
    int current_ = -1;
    bool cleared_ = false;
    int32_t hash_[kHashSize];
    UWORD codes_[kHashSize] = {};
    uint32_t bits_buffer_ = 0;
    int held_ = 0;
    UBYTE block_[255];
    size_t length_ = 0;
};

// ---------------------------------------------------------------------------------------------------
// Identify and load.

UWORD wordAt(const UBYTE* p) {
    return UWORD(p[0] | p[1] << 8);
}

ULONG identify(TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    const UBYTE* p = header->peek;
    if (!p || header->peek_length < 10 || std::memcmp(p, "GIF", 3) != 0) return TALIO_ERR_UNKNOWN;
    TALIO_ImageBuffer* b = header->buffer;
    b->width = wordAt(p + 6);
    b->height = wordAt(p + 8);
    b->depth = 24;
    b->format = header->truecolour_format;
    return TALIO_OK;
}

// A colour table of 2^(bits + 1) entries into `palette` (the rest of it 0).
bool readColourTable(TALIO_Header* header, ULONG bits, ULONG* palette) {
    const size_t entries = size_t(1) << (bits + 1);
    UBYTE table[3 * 256];
    if (TALIO_ReadBuffered(table, int64_t(3 * entries), header) != 3 * entries) return false;
    std::fill(palette, palette + 256, 0);
    for (size_t i = 0; i < entries; i++)
        palette[i] = ULONG(table[3 * i]) | ULONG(table[3 * i + 1]) << 8 | ULONG(table[3 * i + 2]) << 16;
    return true;
}

ULONG load(TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    TALIO_ImageBuffer* b = header->buffer;
    if (TALIO_Seek(header, 0, 0) != 0) return TALIO_ERR_READ;
    UBYTE screen[13];
    if (TALIO_ReadBuffered(screen, 13, header) != 13 || std::memcmp(screen, "GIF", 3) != 0)
        return TALIO_ERR_DAMAGED;
    if (wordAt(screen + 6) != b->width || wordAt(screen + 8) != b->height) return TALIO_ERR_DAMAGED;
    // The global table stays the buffer's palette; a frame with a table of its own uses that one alone.
    std::fill(std::begin(b->palette), std::end(b->palette), 0);
    if ((screen[10] & 0x80) && !readColourTable(header, screen[10] & 7, b->palette)) return TALIO_ERR_DAMAGED;

    // A file that ends, or reaches its trailer, after a frame is complete; before any frame it holds no
    // picture.
    ULONG frames = 0;
    const ULONG ended = TALIO_ERR_DAMAGED;
    for (;;) {
        UBYTE introducer = 0;
        if (TALIO_ReadBuffered(&introducer, 1, header) != 1) return frames ? TALIO_OK : ended;
        if (introducer == ';') return frames ? TALIO_OK : ended;
        if (introducer == '!') {
            UBYTE label = 0;
            // Every extension is a label and sub-blocks up to a zero-length one (comments, application
            // data and graphic control alike); none changes the loaded pixels.
            if (TALIO_ReadBuffered(&label, 1, header) != 1 || !skipSubBlocks(header))
                return frames ? TALIO_OK : ended;
            continue;
        }
        if (introducer != ',') continue;
        UBYTE descriptor[9];
        if (TALIO_ReadBuffered(descriptor, 9, header) != 9) return TALIO_ERR_DAMAGED;
        if (wordAt(descriptor + 4) != b->width || wordAt(descriptor + 6) != b->height)
            return TALIO_ERR_UNKNOWN;
        ULONG local[256];
        const ULONG* palette = b->palette;
        if (descriptor[8] & 0x80) {
            if (!readColourTable(header, descriptor[8] & 7, local)) return TALIO_ERR_DAMAGED;
            palette = local;
        }
        UBYTE minimum = 0;
        if (TALIO_ReadBuffered(&minimum, 1, header) != 1) return TALIO_ERR_DAMAGED;
        if (minimum < 2 || minimum > 8) return TALIO_ERR_DAMAGED;
        if (ULONG r = decodeFrame(header, minimum, palette, descriptor[8] & 0x40); r != TALIO_OK) return r;
        frames++;
    }
}

// ---------------------------------------------------------------------------------------------------
// Save.

ULONG save(TALIO_Header* header) {
    TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b) return TALIO_ERR_DAMAGED;
    TALIO_PlaneRows pic;
    const bool grey = b->depth == 8;
    if ((b->depth != 24 && !grey) || !TALIO__PlaneRowsOf(b, &pic)) return TALIO_ERR_UNSUPPORTED;
    if (b->width > kMaxSide || b->height > kMaxSide) return TALIO_ERR_UNSUPPORTED;
    if (!header->stream) return TALIO_ERR_OPEN;
    const Options opts = currentOptions();

    // A grey picture writes its grey values through the 256-step grey ramp; a colour picture is quantized
    // and mapped.
    std::array<ULONG, 256> palette{};
    ULONG colours = 256;
    TALIO_ColourMapper mapper;
    if (grey) {
        TALIO_ComputeBestColourmapA(b, 256);
        std::copy(std::begin(b->palette), std::end(b->palette), palette.begin());
    } else {
        TALIO_Octree tree;
        if (!tree.build(pic, opts.colours)) return TALIO_ERR_MEMORY;
        palette = tree.palette();
        colours = tree.count();
        mapper.setPalette(palette.data(), colours);
    }
    ULONG bits = 1;
    while ((ULONG(1) << bits) < colours) bits++;

    Output out(header);
    out.bytes("GIF89a", 6);
    out.word(UWORD(b->width));
    out.word(UWORD(b->height));
    out.byte(UBYTE(0x80 | (bits - 1) << 4 | (bits - 1)));
    out.byte(0); // background
    out.byte(0); // aspect
    for (ULONG i = 0; i < (ULONG(1) << bits); i++) {
        const ULONG c = palette[i];
        out.byte(UBYTE(c)), out.byte(UBYTE(c >> 8)), out.byte(UBYTE(c >> 16));
    }
    out.byte(',');
    out.word(0), out.word(0);
    out.word(UWORD(b->width));
    out.word(UWORD(b->height));
    out.byte(opts.interlaced ? 0x40 : 0);
    const int minimum = bits == 1 ? 2 : int(bits);
    out.byte(UBYTE(minimum));

    LzwEncoder lzw(out, minimum);
    std::vector<UBYTE> indexes(b->width);
    const ULONG step = header->progress_step ? header->progress_step : TALIO_ProgressStep(b->height);
    ULONG done = 0;
    for (RowOrder order(b->height, opts.interlaced); !order.done(); order.advance()) {
        const size_t at = size_t(order.row()) * pic.stride;
        if (grey)
            std::memcpy(indexes.data(), pic.green + at, b->width);
        else
            mapper.mapRow(pic.red + at, pic.green + at, pic.blue + at, b->width, opts.dithering,
                          indexes.data());
        lzw.put(indexes.data(), b->width);
        if (++done % step == 0 && !TALIO_SetProgressDisplay(header, done, b->height))
            return TALIO_ERR_CANCELLED;
        if (out.failed()) return TALIO_ERR_READ;
    }
    lzw.finish();
    out.byte(';');
    out.flush();
    return out.failed() ? TALIO_ERR_READ : TALIO_OK;
}

// ---------------------------------------------------------------------------------------------------
// The save-options group: colours, dithering and interlace, tied to the process-wide options.

constexpr ULONG kChecked = 0x0015000A;

Tal_Word coloursChanged(Tal_Word, ULONG, ULONG, const Tal_Word* args) {
    setOption(&Options::colours, args[0], 1, 256);
    return 0;
}

Tal_Word ditheringChanged(Tal_Word, ULONG, ULONG, const Tal_Word* args) {
    setOption(&Options::dithering, args[0], 0, 100);
    return 0;
}

Tal_Word interlacedChanged(Tal_Word, ULONG, ULONG, const Tal_Word* args) {
    setOption(&Options::interlaced, args[0] ? 1 : 0, 0, 1);
    return 0;
}

ULONG buildSaveOptions() {
    for (const char* name : {"Group", "Text", "Scroller", "CheckBox"})
        if (!Tal_FindClassFromName(name)) return 0;
    const Options opts = currentOptions();
    ULONG colours = 0, dithering = 0, check = 0;
    const ULONG group = Tal_CreateObjects(
        0, TAL_TREE_VGROUP,                                                                             //
        TAL_TREE_HGROUP, TAL_TREE_LABEL, "Number of Colours",                                           //
        TAL_TREE_OBJECT, "Slider", TAL_TREE_HANDLE, &colours, TAL_SetMinimum, 2, TAL_SetMaximum, 256,   //
        TAL_SetValue, opts.colours, TAL_SetValueFormat, "%ld", TAL_TREE_CLOSE, TAL_TREE_CLOSE,          //
        TAL_TREE_HGROUP, TAL_TREE_LABEL, "Dithering",                                                   //
        TAL_TREE_OBJECT, "Slider", TAL_TREE_HANDLE, &dithering, TAL_SetMinimum, 0, TAL_SetMaximum, 100, //
        TAL_SetValue, opts.dithering, TAL_SetValueFormat, "%ld%%", TAL_TREE_CLOSE, TAL_TREE_CLOSE,      //
        TAL_TREE_OBJECT, "CheckBox", TAL_TREE_HANDLE, &check, TAL_SetLabel, "Interlaced",               //
        kChecked, opts.interlaced, TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    if (!group) return 0;
    if (colours) Tal_AddCallBackNotify(colours, TAL_SetValue, TAL_AnyValue, coloursChanged, 0);
    if (dithering) Tal_AddCallBackNotify(dithering, TAL_SetValue, TAL_AnyValue, ditheringChanged, 0);
    if (check) Tal_AddCallBackNotify(check, kChecked, TAL_AnyValue, interlacedChanged, 0);
    return group;
}

// ---------------------------------------------------------------------------------------------------
// The exported quantizer and mapper: one process-wide palette and diffusion state.

std::mutex sharedLock;
TALIO_ColourMapper sharedMapper;
bool sharedReady = false;

} // namespace

ULONG TALIO__ComputeBestColourmapA(TALIO_ImageBuffer* buffer, ULONG colours) {
    TALIO_PlaneRows pic;
    if (!TALIO__PlaneRowsOf(buffer, &pic)) return 0;
    TALIO_Octree tree;
    if (!tree.build(pic, colours)) return 0;
    std::copy(tree.palette().begin(), tree.palette().begin() + tree.count(), buffer->palette);
    std::lock_guard guard(sharedLock);
    sharedMapper.setPalette(tree.palette().data(), tree.count());
    sharedReady = true;
    return 1;
}

ULONG TALIO__GetBufferData(const TALIO_ImageBuffer* buffer, ULONG x, ULONG y, ULONG width, ULONG rows,
                           ULONG rowBytes, ULONG method, UBYTE* destination) {
    TALIO_PlaneRows pic;
    if (!destination || !TALIO__PlaneRowsOf(buffer, &pic) || uint64_t(x) + width > pic.width ||
        uint64_t(y) + rows > pic.height)
        return 0;
    const ULONG dithering = method == TALIO_MAP_DIFFUSE ? currentOptions().dithering : 0;
    std::lock_guard guard(sharedLock);
    if (!sharedReady) return 0;
    for (ULONG r = 0; r < rows; r++) {
        const size_t at = size_t(y + r) * pic.stride + x;
        sharedMapper.mapRow(pic.red + at, pic.green + at, pic.blue + at, width, dithering,
                            destination + size_t(r) * rowBytes);
    }
    return 1;
}

void* Tal_NewGIFTALIOClass(const TagItem*) {
    auto* self = static_cast<GIFTALIOInstance*>(Tal_AllocObjectMem(&gifClass));
    if (!self) return nullptr;
    self->header.superObject = TALIO__NewFormatBase(TALIO_KIND_FILE, kGifFlags, "gif");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeGIFTALIOClass(void* instance) {
    auto* self = static_cast<GIFTALIOInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoGIFTALIOClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<GIFTALIOInstance*>(instance);
    switch (id) {
    case GIFTALIO_SetColours:
        setOption(&Options::colours, args[0], 1, 256);
        return 1;
    case GIFTALIO_GetColours:
        return currentOptions().colours;
    case GIFTALIO_SetDithering:
        setOption(&Options::dithering, args[0], 0, 100);
        return 1;
    case GIFTALIO_GetDithering:
        return currentOptions().dithering;
    case GIFTALIO_SetInterlaced:
        setOption(&Options::interlaced, args[0] ? 1 : 0, 0, 1);
        return 1;
    case GIFTALIO_GetInterlaced:
        return currentOptions().interlaced;
    case TALIO_Identify:
        return identify(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Load:
        return load(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Save:
        return save(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_GetSaveOptions:
        return TALIO__SaveOptionsOf(self->header.superObject, buildSaveOptions);
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitGIFTALIOClass() {
    return Tal__SetupClass(&gifClass, "GIFTALIO", kGifClassId, "RootTALIO", Tal_NewGIFTALIOClass,
                           Tal_DisposeGIFTALIOClass, Tal_DoGIFTALIOClassMethod, nullptr,
                           sizeof(GIFTALIOInstance));
}

void Tal_CleanupGIFTALIOClass() {
    Tal__CleanupClass(&gifClass);
}
