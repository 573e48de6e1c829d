// The merge of a stage with 64 servers of 20 streams each, from a recorded iperf3 output, and the
// live totals' looks at the same 64 outputs while they are written.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "iperf/LiveTotals.h"
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

    const std::filesystem::path& path() const { return folder_; }

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

// The recorded output cut where each second ends: its heading, then one block per interval (up
// to and including its "[SUM]" line), then the final totals.
std::vector<std::string> secondsOf(const std::vector<std::string>& lines) {
    std::vector<std::string> blocks(1);
    for (const std::string& line : lines) {
        blocks.back() += line + "\n";
        const bool intervalEnds = line.find("[SUM]") != std::string::npos &&
                                  line.find("sender") == std::string::npos &&
                                  line.find("receiver") == std::string::npos;
        if (intervalEnds) {
            blocks.emplace_back();
        }
    }
    return blocks;
}

// A whole stage as the live totals see it: every second each of the 64 outputs gains one
// interval, and the outputs are looked at four times a second. Only the looks are timed; the
// time of one iteration is the live totals' cost over a stage.
void LiveTotalsOverAStageOf64Outputs(benchmark::State& state) {
    MergeFolder folder;
    const std::vector<std::string> blocks =
        secondsOf(kestova::platform::readLines(KESTOVA_BENCH_DATA "/dn_speed_p20.txt"));
    std::vector<std::ofstream> outputs;
    for (auto _ : state) {
        state.PauseTiming();
        outputs.clear();
        for (std::size_t i = 0; i < kServers; ++i) {
            outputs.emplace_back("speedTest/dn_speed_" + std::to_string(i) + ".txt",
                                 std::ios::binary | std::ios::trunc);
        }
        kestova::iperf::LiveTotals totals("dn_speed", kServers);
        const std::vector<bool> running(kServers, false);
        state.ResumeTiming();
        for (const std::string& block : blocks) {
            state.PauseTiming();
            for (std::ofstream& output : outputs) {
                output << block << std::flush;
            }
            state.ResumeTiming();
            for (int look = 0; look < 4; ++look) {
                totals.follow(running);
            }
        }
        benchmark::DoNotOptimize(totals.intervals().size());
        if (totals.intervals().size() != 10) {
            state.SkipWithError("the live totals missed intervals");
        }
    }
}
BENCHMARK(LiveTotalsOverAStageOf64Outputs)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
