// Generates the stand-in firmware images embedded when no real ones are given. Every 2,048-byte
// block starts with a stamp of its image id and offset, so that a misplaced or swapped block is
// visible in a dump; the rest is deterministic noise covering all byte values.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: gen_firmware IMAGE_ID SIZE OUTPUT\n");
        return 2;
    }
    const unsigned id = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 0));
    const std::size_t size = std::strtoul(argv[2], nullptr, 0);
    std::vector<std::uint8_t> image(size);
    std::uint32_t state = 0x9E3779B9u ^ id;
    for (std::size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image[i] = static_cast<std::uint8_t>(state >> 24);
    }
    for (std::size_t block = 0; block < size; block += 2048) {
        char stamp[32];
        int n = std::snprintf(stamp, sizeof stamp, "RX300 IMG%03u @%07zX", id, block);
        for (int i = 0; i < n && block + i < size; ++i) {
            image[block + i] = static_cast<std::uint8_t>(stamp[i]);
        }
    }
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr || std::fwrite(image.data(), 1, size, out) != size ||
        std::fclose(out) != 0) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
