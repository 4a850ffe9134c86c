// Writing a non-interlaced PNG file with every processor: the rows are filtered as libpng filters them
// (per row, the filter whose output has the least sum of absolute values) and compressed in segments of
// rows at once. Each segment is primed with the 32 KiB of filtered data before it and ends on a byte
// boundary, so that the segments joined make one zlib stream, as pigz does. Compressing is nearly all a
// save costs; a large picture thus saves in a fraction of the time one stream would take.
#include "talio/TALIOPNG.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace {

constexpr size_t kSegmentBytes = size_t(2) << 20; // filtered bytes a segment aims at
constexpr size_t kWindow = 32768;                 // what deflate looks back at
constexpr unsigned kMaxThreads = 16;

// A block of plain memory that frees itself; empty when it could not be had.
struct Block {
    UBYTE* data = nullptr;
    size_t size = 0;
    Block() = default;
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;
    ~Block() { Tal_FreeMem(data); }
    void clear() {
        Tal_FreeMem(data);
        data = nullptr;
        size = 0;
    }
    bool resize(size_t n) {
        auto* bigger = static_cast<UBYTE*>(Tal_AllocMem(std::max<size_t>(n, 1)));
        if (!bigger) return false;
        if (data) std::memcpy(bigger, data, std::min(size, n));
        Tal_FreeMem(data);
        data = bigger;
        size = n;
        return true;
    }
};

// The weight libpng gives a filtered byte: its distance from 0 as a signed byte.
inline int weight(UBYTE v) {
    return std::abs(int(static_cast<signed char>(v)));
}

template <int Type>
inline UBYTE predict(int a, int b, int c) {
    if constexpr (Type == 1) {
        return UBYTE(a);
    } else if constexpr (Type == 2) {
        return UBYTE(b);
    } else if constexpr (Type == 3) {
        return UBYTE((a + b) >> 1);
    } else {
        // Paeth: the neighbour nearest to a + b - c, without branches so that the loop vectorizes.
        const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
        return UBYTE(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
    }
}

// The bytes of a row under one filter (1 Sub, 2 Up, 3 Average, 4 Paeth) and their weight. Works in
// blocks and stops, returning more than `limit`, once the weight passes it.
template <int Type>
size_t filtered(const UBYTE* __restrict row, const UBYTE* __restrict prev, size_t n, size_t bpp,
                UBYTE* __restrict out, size_t limit) {
    constexpr size_t kBlock = 512;
    size_t sum = 0;
    const size_t lead = std::min(bpp, n); // no left neighbour
    for (size_t i = 0; i < lead; i++) {
        out[i] = UBYTE(row[i] - predict<Type>(0, prev[i], 0));
        sum += size_t(weight(out[i]));
    }
    for (size_t start = lead; start < n; start += kBlock) {
        const size_t end = std::min(n, start + kBlock);
        for (size_t i = start; i < end; i++)
            out[i] = UBYTE(row[i] - predict<Type>(row[i - bpp], prev[i], prev[i - bpp]));
        int block = 0;
        for (size_t i = start; i < end; i++) block += weight(out[i]);
        sum += size_t(block);
        if (sum > limit) return sum;
    }
    return sum;
}

// One filtered row: its filter byte, then the filtered bytes. `prev` is the row above (zeros for the
// first). With `adaptive` the filter of least weight, the first of equals in the order None, Sub, Up,
// Average, Paeth; else None. `trial` is scratch of the row's size.
void filterRow(const UBYTE* row, const UBYTE* prev, size_t n, size_t bpp, bool adaptive, UBYTE* out,
               UBYTE* trial) {
    out[0] = 0;
    std::memcpy(out + 1, row, n);
    if (!adaptive) return;
    size_t best = 0;
    for (size_t i = 0; i < n; i++) best += size_t(weight(row[i]));
    using Filter = size_t (*)(const UBYTE*, const UBYTE*, size_t, size_t, UBYTE*, size_t);
    static constexpr Filter filters[] = {filtered<1>, filtered<2>, filtered<3>, filtered<4>};
    for (UBYTE type = 1; type <= 4; type++) {
        const size_t sum = filters[type - 1](row, prev, n, bpp, trial, best);
        if (sum < best) {
            best = sum;
            out[0] = type;
            std::memcpy(out + 1, trial, n);
        }
    }
}

struct Segment {
    ULONG first = 0, last = 0; // rows
    Block out;                 // compressed
    size_t outLength = 0;
    uLong adler = 1; // of the filtered rows
    size_t rawLength = 0;
    enum State { Waiting, Taken, Done, Failed } state = Waiting;
};

struct Encoder {
    const TALIO_ImageBuffer* buffer;
    int channels;
    int level;
    std::vector<Segment> segments;
    size_t rowBytes;
    ULONG rowsPerSegment;
    size_t ahead; // segments that may be compressed beyond the one being written

    std::mutex lock;
    std::condition_variable changed;
    size_t next = 0;    // the first segment not taken
    size_t written = 0; // segments written
    bool stop = false;

    bool fetch(ULONG y, UBYTE* row) const {
        const ULONG code = channels == 1 ? TALIO_PIXEL_INDEX : TALIO_PIXEL_RGB;
        return TALIO_GetBufferData(buffer, 0, y, buffer->width, 1, ULONG(rowBytes), code, row) != 0;
    }

    // Filters and compresses one segment; false when memory runs out or a row cannot be read.
    bool compress(Segment& s) const {
        const size_t line = rowBytes + 1;
        // The rows before the segment that fill the window are filtered again to prime it.
        const ULONG primer = ULONG(std::min<size_t>(s.first, (kWindow + line - 1) / line));
        const ULONG from = s.first - primer;
        Block filtered, rows, trial;
        if (!filtered.resize(size_t(s.last - from) * line) || !rows.resize(2 * rowBytes) ||
            !trial.resize(rowBytes))
            return false;
        UBYTE* prev = rows.data;
        UBYTE* cur = rows.data + rowBytes;
        if (from > 0) {
            if (!fetch(from - 1, prev)) return false;
        } else {
            std::memset(prev, 0, rowBytes);
        }
        for (ULONG y = from; y < s.last; y++) {
            if (!fetch(y, cur)) return false;
            filterRow(cur, prev, rowBytes, size_t(channels), level > 0,
                      filtered.data + size_t(y - from) * line, trial.data);
            std::swap(prev, cur);
        }
        const size_t primed = size_t(primer) * line;
        s.rawLength = size_t(s.last - s.first) * line;
        const UBYTE* input = filtered.data + primed;
        s.adler = adler32(adler32(0, nullptr, 0), input, uInt(s.rawLength));

        z_stream z{};
        const int strategy = level > 0 ? Z_FILTERED : Z_DEFAULT_STRATEGY;
        if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) return false;
        const size_t dictionary = std::min(primed, kWindow);
        bool ok = dictionary == 0 ||
                  deflateSetDictionary(&z, filtered.data + primed - dictionary, uInt(dictionary)) == Z_OK;
        ok = ok && s.out.resize(deflateBound(&z, uLong(s.rawLength)) + 64);
        // The last segment ends the stream; the others end on a byte boundary with their blocks open.
        const int flush = s.last == buffer->height ? Z_FINISH : Z_SYNC_FLUSH;
        z.next_in = const_cast<UBYTE*>(input);
        z.avail_in = uInt(s.rawLength);
        while (ok) {
            z.next_out = s.out.data + s.outLength;
            z.avail_out = uInt(s.out.size - s.outLength);
            const int r = deflate(&z, flush);
            s.outLength = s.out.size - z.avail_out;
            if (r == Z_STREAM_END || (flush == Z_SYNC_FLUSH && r == Z_OK && z.avail_out > 0)) break;
            ok = (r == Z_OK || r == Z_BUF_ERROR) && s.out.resize(s.out.size + s.out.size / 2 + 64);
        }
        deflateEnd(&z);
        return ok;
    }

    // Takes segments and compresses them until none is left or the writer stops; a segment is taken only
    // when it is at most `ahead` beyond the one being written, so that memory stays bounded.
    void work() {
        std::unique_lock guard(lock);
        for (;;) {
            changed.wait(guard, [&] { return stop || next >= segments.size() || next < written + ahead; });
            if (stop || next >= segments.size()) return;
            Segment& s = segments[next++];
            s.state = Segment::Taken;
            guard.unlock();
            const bool ok = compress(s);
            guard.lock();
            s.state = ok ? Segment::Done : Segment::Failed;
            changed.notify_all();
        }
    }
};

ULONG writeAll(TALIO_Header* header, const void* data, size_t length) {
    return TALIO_WriteData(data, 1, length, header) == length ? 1 : 0;
}

void putBE32(UBYTE* p, ULONG v) {
    p[0] = UBYTE(v >> 24), p[1] = UBYTE(v >> 16), p[2] = UBYTE(v >> 8), p[3] = UBYTE(v);
}

// A chunk from up to three pieces of data.
ULONG writeChunk(TALIO_Header* header, const char* type,
                 std::initializer_list<std::pair<const UBYTE*, size_t>> parts) {
    size_t length = 0;
    for (const auto& p : parts) length += p.second;
    if (length > 0x7FFFFFFF) return 0;
    UBYTE head[8], tail[4];
    putBE32(head, ULONG(length));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(crc32(0, nullptr, 0), head + 4, 4);
    for (const auto& p : parts) crc = crc32(crc, p.first, uInt(p.second));
    putBE32(tail, ULONG(crc));
    if (!writeAll(header, head, sizeof head)) return 0;
    for (const auto& p : parts)
        if (p.second && !writeAll(header, p.first, p.second)) return 0;
    return writeAll(header, tail, sizeof tail);
}

// The zlib header of a stream with a 32 KiB window at the level.
void zlibHeader(int level, UBYTE out[2]) {
    out[0] = 0x78;
    const int speed = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
    out[1] = UBYTE(speed << 6);
    out[1] = UBYTE(out[1] + 31 - (out[0] * 256 + out[1]) % 31);
}

// Writes the segments in order as they are done, lending a hand while it waits.
ULONG writeSegments(TALIO_Header* header, Encoder& e) {
    const ULONG height = e.buffer->height;
    uLong adler = adler32(0, nullptr, 0);
    for (size_t i = 0; i < e.segments.size(); i++) {
        Segment& s = e.segments[i];
        {
            std::unique_lock guard(e.lock);
            while (s.state != Segment::Done && s.state != Segment::Failed) {
                if (e.next < e.segments.size() && e.next < e.written + e.ahead) {
                    Segment& help = e.segments[e.next++];
                    help.state = Segment::Taken;
                    guard.unlock();
                    const bool ok = e.compress(help);
                    guard.lock();
                    help.state = ok ? Segment::Done : Segment::Failed;
                    e.changed.notify_all();
                } else {
                    e.changed.wait(guard);
                }
            }
            if (s.state == Segment::Failed) return TALIO_ERR_MEMORY;
        }
        adler = adler32_combine(adler, s.adler, z_off_t(s.rawLength));
        UBYTE start[2], end[4];
        zlibHeader(e.level, start);
        putBE32(end, ULONG(adler));
        const bool first = i == 0, last = i + 1 == e.segments.size();
        if (!writeChunk(header, "IDAT",
                        {{start, first ? 2u : 0u}, {s.out.data, s.outLength}, {end, last ? 4u : 0u}}))
            return TALIO_ERR_READ;
        s.out.clear();
        {
            std::lock_guard guard(e.lock);
            e.written = i + 1;
            e.changed.notify_all();
        }
        if (!TALIO__RowsDone(header, s.first, s.last, height)) return TALIO_ERR_CANCELLED;
    }
    return writeChunk(header, "IEND", {}) ? TALIO_OK : TALIO_ERR_READ;
}

} // namespace

ULONG TALIO__WritePNG(TALIO_Header* header, int channels, int level) {
    const TALIO_ImageBuffer* b = header->buffer;
    Encoder e{};
    e.buffer = b;
    e.channels = channels;
    e.level = std::clamp(level, 0, 9);
    e.rowBytes = size_t(b->width) * size_t(channels);
    e.rowsPerSegment = ULONG(std::max<size_t>(1, kSegmentBytes / (e.rowBytes + 1)));
    const size_t count = (size_t(b->height) + e.rowsPerSegment - 1) / e.rowsPerSegment;
    e.segments = std::vector<Segment>(count);
    for (size_t i = 0; i < count; i++) {
        e.segments[i].first = ULONG(i * e.rowsPerSegment);
        e.segments[i].last = ULONG(std::min<size_t>(b->height, (i + 1) * e.rowsPerSegment));
    }
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
    e.ahead = 2 * size_t(threads);

    UBYTE signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, ihdr[13] = {};
    putBE32(ihdr, b->width);
    putBE32(ihdr + 4, b->height);
    ihdr[8] = 8;
    ihdr[9] = channels == 1 ? 0 : 2; // grey or RGB; compression, filter and interlace methods 0
    if (!writeAll(header, signature, sizeof signature) || !writeChunk(header, "IHDR", {{ihdr, sizeof ihdr}}))
        return TALIO_ERR_READ;

    // The writer works too; the others are helpers for as many segments as there are.
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < threads && i < count; i++) {
        try {
            helpers.emplace_back([&e] { e.work(); });
        } catch (...) {
            break; // fewer helpers, the same file
        }
    }
    const ULONG result = writeSegments(header, e);
    {
        std::lock_guard guard(e.lock);
        e.stop = true;
        e.changed.notify_all();
    }
    for (std::thread& t : helpers) t.join();
    return result;
}
