#include "iperf/MeasuredWindows.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "iperf/SummaryLines.h"
#include "workspace/Text.h"

namespace kestova::iperf {

namespace {

template <typename Value>
double spreadOf(const std::vector<MeasuredWindow>& windows, Value value) {
    const auto [lowest, highest] = std::minmax_element(
        windows.begin(), windows.end(),
        [&](const MeasuredWindow& a, const MeasuredWindow& b) { return value(a) < value(b); });
    return value(*highest) - value(*lowest);
}

std::optional<double> numberOf(const std::string& text) {
    const std::optional<double> value = wholeNumber<double>(text);
    return value && std::isfinite(*value) ? value : std::nullopt;
}

// From the first start to the last end, in seconds.
double spanOf(const std::vector<MeasuredWindow>& windows) {
    double firstStart = windows.front().startedAt;
    double lastEnd = windows.front().endedAt();
    for (const MeasuredWindow& window : windows) {
        firstStart = std::min(firstStart, window.startedAt);
        lastEnd = std::max(lastEnd, window.endedAt());
    }
    return lastEnd - firstStart;
}

}  // namespace

bool windowsCoincide(const std::vector<MeasuredWindow>& windows) {
    if (windows.size() < 2) {
        return true;
    }
    return spreadOf(windows, [](const MeasuredWindow& w) { return w.startedAt; }) <=
               kCoincidingSeconds &&
           spreadOf(windows, [](const MeasuredWindow& w) { return w.endedAt(); }) <=
               kCoincidingSeconds;
}

double figureOverAllWindows(const std::vector<MeasuredWindow>& windows) {
    if (windows.empty()) {
        return 0;
    }
    double megabits = 0;
    for (const MeasuredWindow& window : windows) {
        megabits += window.total.mbps * window.total.seconds;
    }
    const double seconds = spanOf(windows);
    return seconds > 0 ? megabits / seconds : 0;
}

StageFigure stageFigureOf(const std::string& mergedFigure,
                          const std::vector<MeasuredWindow>& windows) {
    const std::optional<double> merged = numberOf(mergedFigure);
    if (!merged || windowsCoincide(windows)) {
        return {mergedFigure, std::nullopt};
    }
    // Never above the merged figure: the windows' union is at least as long as each of them.
    const double figure = std::min(*merged, figureOverAllWindows(windows));
    const std::string text = twoDecimals(figure);
    return {text, "the servers measured over different times: " + text + " Mbits/sec over " +
                      twoDecimals(spanOf(windows)) + " s instead of the sum " + mergedFigure +
                      " Mbits/sec"};
}

}  // namespace kestova::iperf
