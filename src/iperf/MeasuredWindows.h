#pragma once

#include <optional>
#include <string>
#include <vector>

#include "iperf/IperfOutput.h"

// A stage's figure counts each second once. Each server's receiver measures over its own window,
// and on a slow or loaded line the servers' windows need not coincide: setting up streams takes
// seconds, so one server may measure while another has not yet begun, each with the line to
// itself. The sum of their bitrates then counts those seconds twice and can exceed the line.
namespace kestova::iperf {

// One counted server: its receiver's total, and when its run began to measure on the stage's
// clock (in seconds). Its window is the total's seconds from that start.
struct MeasuredWindow {
    ReceiverTotal total;
    double startedAt = 0;

    double endedAt() const { return startedAt + total.seconds; }
};

// Windows coincide when their starts lie within this of each other, and so do their ends.
inline constexpr double kCoincidingSeconds = 0.25;

bool windowsCoincide(const std::vector<MeasuredWindow>& windows);

// What the servers received together over the time in which any of them measured, in Mbit/s.
double figureOverAllWindows(const std::vector<MeasuredWindow>& windows);

// The figure of a stage whose merged file gives mergedFigure: that figure where the windows
// coincide (or are not known, or the merged file gives none), else the figure over all windows,
// two decimals, never above the merged one. explanation says, for the run log, why it differs.
struct StageFigure {
    std::string text;
    std::optional<std::string> explanation;
};
StageFigure stageFigureOf(const std::string& mergedFigure,
                          const std::vector<MeasuredWindow>& windows);

}  // namespace kestova::iperf
