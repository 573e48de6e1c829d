// The merge of a stage with 64 servers of 20 streams each, from a recorded iperf3 output.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "iperf/SpeedFileMerge.h"
#include "platform/TextFile.h"

namespace {

constexpr std::size_t kServers = 64;

// A program folder holding the recorded output as the output of every server.
class MergeFolder {
  public:
    MergeFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestova-bench-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        std::filesystem::create_directory(folder_ / "speedTest");
        for (std::size_t i = 0; i < kServers; ++i) {
            std::filesystem::copy_file(
                KESTOVA_BENCH_DATA "/dn_speed_p20.txt",
                folder_ / "speedTest" / ("dn_speed_" + std::to_string(i) + ".txt"));
        }
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_);
    }
    ~MergeFolder() {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }

  private:
    std::filesystem::path folder_;
    std::filesystem::path previous_;
};

void MergeSpeedFileOf64Servers(benchmark::State& state) {
    MergeFolder folder;
    // The run log's lines are not what is measured here.
    std::streambuf* output = std::cout.rdbuf(nullptr);
    for (auto _ : state) {
        kestova::mergeSpeedFile("dn_speed", kServers);
    }
    std::cout.rdbuf(output);
}
BENCHMARK(MergeSpeedFileOf64Servers)->Unit(benchmark::kMillisecond);

void MergeCollectedOutputsOf64Servers(benchmark::State& state) {
    const std::vector<std::string> lines =
        kestova::platform::readLines(KESTOVA_BENCH_DATA "/dn_speed_p20.txt");
    const std::vector<kestova::CollectedOutput> outputs(kServers, lines);
    for (auto _ : state) {
        benchmark::DoNotOptimize(kestova::mergeCollectedOutputs(outputs));
    }
}
BENCHMARK(MergeCollectedOutputsOf64Servers)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
