// What each Write Block costs the host before it goes out: CRC, packing, the whole build.
#include <benchmark/benchmark.h>

#include <vector>

#include "protocol/crc32.h"
#include "protocol/messages.h"
#include "protocol/septets.h"

namespace {

std::vector<std::uint8_t> Block() {
    std::vector<std::uint8_t> block(2048);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 131 + 7);
    }
    return block;
}

void BM_Crc32Block(benchmark::State& state) {
    const auto block = Block();
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc32(block.data(), static_cast<std::uint32_t>(block.size())));
    }
    state.SetBytesProcessed(state.iterations() * block.size());
}
BENCHMARK(BM_Crc32Block);

void BM_PackSeptetsBlock(benchmark::State& state) {
    const auto block = Block();
    std::vector<std::uint8_t> packed(PackedLength(2048));
    for (auto _ : state) {
        benchmark::DoNotOptimize(PackSeptets(packed.data(), block.data(), 2048));
    }
    state.SetBytesProcessed(state.iterations() * block.size());
}
BENCHMARK(BM_PackSeptetsBlock);

void BM_BuildWriteBlock(benchmark::State& state) {
    const auto block = Block();
    std::vector<std::uint8_t> message(rx::kMessageBufferSize);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            rx::BuildWriteBlock(message.data(), 0x57, block.data(), 0x40000, 2048));
    }
    state.SetBytesProcessed(state.iterations() * block.size());
}
BENCHMARK(BM_BuildWriteBlock);

}  // namespace
