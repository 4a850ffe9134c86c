// ByteRun1 line decoding (see byterun1.h).
#include "host/byterun1.h"

#include <algorithm>
#include <cstring>

size_t host_UnpackByteRun1(const UBYTE** source, const UBYTE* end, UBYTE* line, size_t length,
                           bool* overran) {
    const UBYTE* src = *source;
    size_t done = 0;
    bool over = false;
    while (done < length && src < end) {
        const UBYTE control = *src++;
        if (control < 128) {
            const size_t run = size_t(control) + 1;
            const size_t available = std::min<size_t>(run, size_t(end - src));
            const size_t kept = std::min(available, length - done);
            std::memcpy(line + done, src, kept);
            over = over || run > length - done;
            src += available;
            done += kept;
        } else if (control > 128) {
            if (src == end) break;
            const size_t run = 257 - size_t(control);
            const size_t kept = std::min(run, length - done);
            std::memset(line + done, *src++, kept);
            over = over || run > kept;
            done += kept;
        }
    }
    *source = src;
    if (overran) *overran = over;
    return done;
}
