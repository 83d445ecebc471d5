// Throughput of the frame checksum and of the frame scan over received blocks.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "FakePlatform.h"
#include "TrackerSim.h"
#include "app/MainWindow.h"
#include "link/Crc.h"

namespace {

void BM_Crc16(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  std::mt19937 rng(1);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (auto _ : state) benchmark::DoNotOptimize(rlv::link::Crc16(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(16)->Arg(512)->Arg(4096);

void BM_Crc8(benchmark::State& state) {
  std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
  std::mt19937 rng(3);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (auto _ : state) benchmark::DoNotOptimize(rlv::link::Crc8(data.data(), data.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc8)->Arg(21)->Arg(4096);

// A 4096-byte read full of status answers (the busiest case of the link),
// and one of noise without any magic.
void ScanBlock(benchmark::State& state, const std::vector<uint8_t>& block) {
  rlv::fake::FakeEnvironment env;
  rlv::app::MainWindow window(env.platform, {});
  for (auto _ : state) window.codec.ScanFrames(block.data(), block.size());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(block.size()));
}

// A block of status answers of `kind`: 0 is a navigation record, which the
// monitoring page shows (its readouts are most of the time); 2 is a kind the
// dispatcher drops at once, so the figure is the scan and the checksums alone.
std::vector<uint8_t> StatusBlock(uint8_t kind) {
  std::vector<uint8_t> block;
  // Sized once and filled in place (GCC 12 reports a false out-of-bounds copy
  // for a range insert after a short list at -O2).
  std::vector<uint8_t> payload(3 + 256, 0x11);  // a 256-byte record of 0x11
  payload[0] = kind;
  payload[1] = 0;
  payload[2] = 1;
  const auto frame = rlv::sim::BuildResponseFrame(34, payload);
  while (block.size() + frame.size() <= 4096) block.insert(block.end(), frame.begin(), frame.end());
  return block;
}

void BM_ScanFrames_StatusAnswers(benchmark::State& state) {
  ScanBlock(state, StatusBlock(0));
}
BENCHMARK(BM_ScanFrames_StatusAnswers);

void BM_ScanFrames_StatusFramesUnshown(benchmark::State& state) {
  ScanBlock(state, StatusBlock(2));
}
BENCHMARK(BM_ScanFrames_StatusFramesUnshown);

void BM_ScanFrames_Noise(benchmark::State& state) {
  std::vector<uint8_t> block(4096);
  std::mt19937 rng(2);
  for (auto& b : block) b = static_cast<uint8_t>('A' + rng() % 26);
  ScanBlock(state, block);
}
BENCHMARK(BM_ScanFrames_Noise);

}  // namespace
