#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/WorkspaceFiles.h"

// What an iperf3 text output is to this program: the files the runs leave, the marker a finished
// run ends with, and where the receiver's total stands.
namespace kestova::iperf {

// iperf3 ends the text of a finished run with a line that holds this.
inline constexpr std::string_view kDoneMarker = "iperf Done.";

inline bool holdsDoneMarker(std::string_view line) {
    return line.find(kDoneMarker) != std::string_view::npos;
}

// The stages' base names: each server's output is "speedTest/<base>_<index>.txt", the stage's
// merged output "speedTest/<base>.txt".
inline constexpr const char* kDownloadBaseName = workspace::kDownloadSpeedBase;
inline constexpr const char* kUploadBaseName = workspace::kUploadSpeedBase;

std::string outputPath(std::string_view baseName, std::size_t index);
std::string mergedOutputPath(std::string_view baseName);
std::string downloadOutputPath(std::size_t index);  // speedTest/dn_speed_<index>.txt
std::string uploadOutputPath(std::size_t index);    // speedTest/up_speed_<index>.txt
std::string downloadProbeOutputPath();              // speedTest/dn_probe.txt
std::string uploadProbeOutputPath();                // speedTest/up_probe.txt

// Makes a server's output an empty file when its stage starts, so that nothing an earlier test
// left there counts (platform::createFreshFile: a link or pipe at the name is removed, never what
// it points to). Each script's start makes its output afresh once more (startScriptWritingInto).
void emptyOutputFile(const std::string& path);

// The figure of an output's lines: the text between "Bytes" and "Mbits/sec" on the line two above
// the first marker line (the receiver's total, with the empty line between them), trimmed; "error"
// when there is none.
std::string figureOfMergedLines(const std::vector<std::string>& lines);

// The receiver's total of an output: its bitrate in Mbit/s and the seconds it was measured over,
// from the last "[SUM]" line that ends with "receiver" before the first marker. Nothing when the
// output has no such line.
struct ReceiverTotal {
    double mbps = 0;
    double seconds = 0;
};
std::optional<ReceiverTotal> receiverTotalOf(const std::vector<std::string>& lines);

// The text a stage's figure takes when there is none.
inline constexpr const char* kNoFigure = "error";

}  // namespace kestova::iperf
