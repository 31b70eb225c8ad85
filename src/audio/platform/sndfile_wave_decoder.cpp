#include <sndfile.h>

#include <algorithm>

#include "audio/platform/wave_decoder.h"

namespace zel {

namespace {

// libsndfile reads the image through these callbacks, so it never sees more than the image.
struct MemoryFile {
    const unsigned char* data;
    sf_count_t size;
    sf_count_t position;
};

sf_count_t Length(void* user) {
    return static_cast<MemoryFile*>(user)->size;
}

sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    auto& file = *static_cast<MemoryFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = file.position;
    if (whence == SEEK_END) base = file.size;
    // Offsets come from the image's own fields: keep the sum from overflowing.
    if (offset > file.size || offset < -file.size) return -1;
    const sf_count_t target = base + offset;
    if (target < 0) return -1;
    file.position = std::min(target, file.size);
    return file.position;
}

sf_count_t Read(void* destination, sf_count_t count, void* user) {
    auto& file = *static_cast<MemoryFile*>(user);
    if (count <= 0) return 0;
    const sf_count_t available = file.size - file.position;
    const sf_count_t taken = std::min(count, available);
    std::copy_n(file.data + file.position, taken, static_cast<unsigned char*>(destination));
    file.position += taken;
    return taken;
}

sf_count_t Write(const void*, sf_count_t, void*) {
    return 0;
}

sf_count_t Tell(void* user) {
    return static_cast<MemoryFile*>(user)->position;
}

}  // namespace

std::optional<DecodedSound> DecodeWaveImage(const void* image, int32_t byteCount) {
    if (image == nullptr || byteCount <= 0) return std::nullopt;
    MemoryFile file{static_cast<const unsigned char*>(image), byteCount, 0};
    SF_VIRTUAL_IO io{Length, Seek, Read, Write, Tell};
    SF_INFO info{};
    SNDFILE* sound = sf_open_virtual(&io, SFM_READ, &info, &file);
    if (sound == nullptr) return std::nullopt;
    struct Closer {
        SNDFILE* sound;
        ~Closer() { sf_close(sound); }
    } closer{sound};

    const int type = info.format & SF_FORMAT_TYPEMASK;
    if (type != SF_FORMAT_WAV && type != SF_FORMAT_WAVEX) return std::nullopt;
    if (info.channels < 1 || info.channels > kMaxChannels) return std::nullopt;
    if (info.samplerate < 1 || info.samplerate > kMaxSampleRate) return std::nullopt;

    DecodedSound decoded;
    decoded.sampleRate = info.samplerate;
    decoded.channels = info.channels;
    // In chunks: the frame count in the header is the image's claim, not a promise.
    constexpr sf_count_t kChunkFrames = 4096;
    std::vector<short> chunk(static_cast<std::size_t>(kChunkFrames * info.channels));
    for (;;) {
        const sf_count_t frames = sf_readf_short(sound, chunk.data(), kChunkFrames);
        if (frames <= 0) break;
        const auto samples = static_cast<std::size_t>(frames * info.channels);
        if (decoded.samples.size() + samples > kMaxSamples) return std::nullopt;
        decoded.samples.insert(decoded.samples.end(), chunk.begin(),
                               chunk.begin() + static_cast<std::ptrdiff_t>(samples));
    }
    if (sf_error(sound) != SF_ERR_NO_ERROR) return std::nullopt;
    return decoded;
}

}  // namespace zel
