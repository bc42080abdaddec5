// Update sources: a loose file in the current directory wins over the pack.
#include "engine.h"

namespace {

// Fills a fresh record from the pack entry for name. The record is released
// on failure, so the caller's stream is either returned or gone.
SourceStream* OpenPackInto(SourceStream* stream, const char* packName, const char* name) {
    stream->handle = PlatOpenRead(packName);
    if (stream->handle == PLAT_INVALID_FILE) {
        PlatFree(stream);
        return nullptr;
    }
    stream->kind = SOURCE_PACK;
    stream->size = FindPackEntry(stream, name);
    // An entry of size 0 cannot be told from a missing one.
    if (stream->size == 0) {
        PlatClose(stream->handle);
        PlatFree(stream);
        return nullptr;
    }
    stream->transferred = 0;
    stream->requested = 0;
    return stream;
}

}  // namespace

SourceStream* OpenUpdateSource(const char* name, const char* packName) {
    SourceStream* stream = static_cast<SourceStream*>(PlatAllocZero(sizeof(SourceStream)));
    if (!stream) return nullptr;

    stream->kind = SOURCE_LOOSE;
    stream->handle = PlatOpenRead(name);
    if (stream->handle == PLAT_INVALID_FILE) {
        if (!packName) {
            PlatFree(stream);
            return nullptr;
        }
        return OpenPackInto(stream, packName, name);
    }

    uint32_t size = 0, high = 0;
    // A file of 4 GiB or more cannot be read whole; its low 32 bits would
    // silently stand for a different file. Nor is a size that cannot be had
    // taken as one. The pack is not consulted: the loose file wins.
    if (!PlatFileSize(stream->handle, &size, &high) || high != 0) {
        PlatClose(stream->handle);
        PlatFree(stream);
        return nullptr;
    }
    stream->size = size;
    stream->dataPosition = 0;
    stream->transferred = 0;
    stream->requested = 0;
    return stream;
}

SourceStream* OpenPackSource(const char* packName, const char* name) {
    SourceStream* stream = static_cast<SourceStream*>(PlatAllocZero(sizeof(SourceStream)));
    if (!stream) return nullptr;
    return OpenPackInto(stream, packName, name);
}

uint32_t GetSourceSize(const SourceStream* stream) { return stream ? stream->size : 0; }

int ReadSourceBytes(SourceStream* stream, void* buffer, uint32_t count) {
    if (!stream) return 0;
    stream->requested = count;
    stream->transferred = 0;
    return PlatRead(stream->handle, buffer, count, &stream->transferred);
}

int ReadSourceAll(SourceStream* stream, void* buffer) {
    if (!stream) return 0;
    return ReadSourceBytes(stream, buffer, stream->size);
}

int WaitSourceRead(SourceStream* stream) {
    if (!stream || stream->handle == PLAT_NULL_FILE || stream->handle == PLAT_INVALID_FILE)
        return 0;
    // Reads are synchronous: nothing will ever add to `transferred` after the
    // read returned, so a shortfall is final and waiting on it would never end.
    return stream->transferred >= stream->requested ? 1 : 0;
}

void CloseUpdateSource(SourceStream* stream) {
    if (!stream) return;
    PlatClose(stream->handle);
    PlatFree(stream);
}
