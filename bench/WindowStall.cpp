// The longest stall of the window's event loop: a timer on the window's thread that should fire
// every 5 ms, watched through start-up and one whole test started from the window.
//   window_stall_benchmark [--service HOST:PORT] [--short-pauses]   (in a program folder)
// Prints the longest gap between two turns of the loop over the test (from the click to the
// buttons' return), and over start-up with the web engine's own start; each on the clock and net
// of the time the thread waited for a processor. KESTOVA_BENCH_VERBOSE=1 lists every stall.
#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/RunSettings.h"
#include "controls/Explorer1.h"
#include "controls/GdipButton.h"
#include "platform/SystemValues.h"
#include "window/TarnDlg.h"

namespace {

// Nanoseconds this thread has spent runnable but waiting for a processor (the kernel's schedstat).
long long waitedForProcessorNs() {
    std::ifstream schedstat("/proc/thread-self/schedstat");
    long long running = 0;
    long long waiting = 0;
    schedstat >> running >> waiting;
    return waiting;
}

// The longest gap between two turns of the loop, as seen on the clock and net of the time the
// thread only waited for a processor (a loaded machine), which no code of the window can help.
class EventLoopWatch {
  public:
    EventLoopWatch() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 gapMs = sinceLast_.restart();
            const long long waited = waitedForProcessorNs();
            const qint64 netMs = gapMs - (waited - lastWaitedNs_) / 1000000;
            lastWaitedNs_ = waited;
            longestMs_ = std::max(longestMs_, gapMs);
            longestNetMs_ = std::max(longestNetMs_, netMs);
            if (netMs >= 100 && std::getenv("KESTOVA_BENCH_VERBOSE") != nullptr) {
                std::fprintf(stderr, "stall of %lld ms (%lld ms net) at %.2f s\n",
                             static_cast<long long>(gapMs), static_cast<long long>(netMs),
                             static_cast<double>(since_.elapsed()) / 1000.0);
            }
        });
        since_.start();
        sinceLast_.start();
        lastWaitedNs_ = waitedForProcessorNs();
        timer_.start(5);
    }

    struct Stall {
        qint64 onTheClockMs;
        qint64 netMs;
    };
    // The longest gaps since the last call, and a fresh start.
    Stall takeLongest() {
        const Stall longest{longestMs_, longestNetMs_};
        longestMs_ = longestNetMs_ = 0;
        return longest;
    }

  private:
    QTimer timer_;
    QElapsedTimer since_;
    QElapsedTimer sinceLast_;
    long long lastWaitedNs_ = 0;
    qint64 longestMs_ = 0;
    qint64 longestNetMs_ = 0;
};

// Runs the event loop until the condition holds or the bound passes.
bool spinUntil(const std::function<bool()>& condition, int boundMs) {
    QElapsedTimer waited;
    waited.start();
    while (!condition() && waited.elapsed() < boundMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return condition();
}

}  // namespace

int main(int argc, char** argv) {
    const kestova::ParsedCommandLine parsed =
        kestova::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "window_stall_benchmark: %s\n", parsed.error.c_str());
        return 2;
    }
    prepareWebEngineEnvironment();
    QApplication application(argc, argv);
    kestova::platform::MachineValues values;
    values.setWebEngineVersion(qWebEngineChromiumVersion());
    CTarnDlg window(kestova::testRunSettingsFor(*parsed.options), values);

    EventLoopWatch watch;
    bool pageLoaded = false;
    QObject::connect(&window.browser(), &QWebEngineView::loadFinished,
                     [&pageLoaded] { pageLoaded = true; });
    window.OnInitDialog();
    window.show();
    if (!spinUntil([&] { return pageLoaded && window.versionChecked(); }, 60000)) {
        std::fprintf(stderr, "window_stall_benchmark: start-up did not end\n");
        return 1;
    }
    const EventLoopWatch::Stall startUp = watch.takeLongest();

    QElapsedTimer test;
    test.start();
    window.OnBnClickedStart();
    const bool ended = spinUntil(
        [&] {
            return window.testRun().waitForRunsToEnd(std::chrono::milliseconds(0)).has_value() &&
                   window.button(kestova::WindowButton::Cancel).isEnabled();
        },
        300000);
    // A moment more, so that a stall at the very end shows as a gap of the timer.
    spinUntil([] { return false; }, 500);
    const EventLoopWatch::Stall whole = watch.takeLongest();
    std::printf("test: %.1f s, %s\n", static_cast<double>(test.elapsed()) / 1000.0,
                ended ? "ended" : "did not end");
    std::printf("longest stall over the test: %lld ms, %lld ms net of waiting for a processor\n",
                static_cast<long long>(whole.onTheClockMs), static_cast<long long>(whole.netMs));
    std::printf("longest stall over start-up with the web engine's start: %lld ms, %lld ms net\n",
                static_cast<long long>(startUp.onTheClockMs),
                static_cast<long long>(startUp.netMs));
    return ended ? 0 : 1;
}
