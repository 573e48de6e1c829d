// The longest stall of the window's event loop: a timer on the window's thread that should fire
// every 5 ms, watched through start-up and one whole test started from the window.
//   window_stall_benchmark [--service HOST:PORT] [--short-pauses]   (in a program folder)
// Prints the longest gap between two turns of the loop over the test (from the click to the
// buttons' return), and over start-up with the web engine's own start; each on the clock and net
// of the time the thread waited for a processor; and the longest single event delivery (the
// window's own work: painting, the web view's frames, the run's messages), with the time the
// machine's host took from it over the test. KESTOVA_BENCH_VERBOSE=1 lists every stall with the
// deliveries that fell in it.
#include <QtWebEngineCore/qtwebenginecoreglobal.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

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

// Milliseconds the hypervisor kept this virtual machine's processors from running (all of them,
// from /proc/stat); a pause of the whole machine that no program in it can help.
long long stolenFromMachineMs() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    long long field[8] = {};
    stat >> cpu;
    for (long long& value : field) {
        stat >> value;
    }
    return field[7] * 1000 / ::sysconf(_SC_CLK_TCK);
}

// The application with a clock on every event it delivers, to tell a stall that is the window's
// own work (one delivery that takes the time) from one it did not cause (time outside any delivery:
// the thread preempted, or the machine itself paused).
class TimedApplication : public QApplication {
  public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (++depth_ > 1) {  // a delivery inside a delivery is part of the outer one's time
            const bool handled = QApplication::notify(receiver, event);
            --depth_;
            return handled;
        }
        QElapsedTimer delivery;
        delivery.start();
        std::string what = std::string(receiver->metaObject()->className()) + " event " +
                           std::to_string(static_cast<int>(event->type()));
        if (receiver->parent() != nullptr) {
            what += std::string(" of ") + receiver->parent()->metaObject()->className();
        }
        const bool handled = QApplication::notify(receiver, event);
        const qint64 ns = delivery.nsecsElapsed();
        --depth_;
        if (receiver == probe_) {
            return handled;
        }
        auto& [count, total] = sinceLastTurn_[what];
        ++count;
        total += ns;
        if (ns > longest_.ns) {
            longest_ = {ns, std::move(what)};
        }
        return handled;
    }

    // The deliveries since the last call, the costliest kinds first, and a fresh start.
    std::string takeDeliveriesSinceLastTurn() {
        std::vector<std::pair<qint64, std::string>> kinds;
        qint64 all = 0;
        for (const auto& [what, tally] : sinceLastTurn_) {
            kinds.emplace_back(tally.second, what + " x" + std::to_string(tally.first));
            all += tally.second;
        }
        std::sort(kinds.rbegin(), kinds.rend());
        std::string text = std::to_string(all / 1000000) + " ms in deliveries:";
        for (std::size_t i = 0; i < kinds.size() && i < 3; ++i) {
            text += " " + kinds[i].second + " " + std::to_string(kinds[i].first / 1000000) + " ms;";
        }
        sinceLastTurn_.clear();
        return text;
    }

    struct Delivery {
        qint64 ns = 0;
        std::string what;
    };
    // The longest single delivery since the last call, and a fresh start.
    Delivery takeLongestDelivery() { return std::exchange(longest_, Delivery{}); }

    // The benchmark's own timer: its turns are the measure, not the window's work.
    void leaveOut(const QObject* probe) { probe_ = probe; }

  private:
    const QObject* probe_ = nullptr;
    int depth_ = 0;
    std::map<std::string, std::pair<long long, qint64>> sinceLastTurn_;
    Delivery longest_;
};

TimedApplication& timedApplication() {
    return *static_cast<TimedApplication*>(QCoreApplication::instance());
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
            const std::string deliveries = timedApplication().takeDeliveriesSinceLastTurn();
            longestMs_ = std::max(longestMs_, gapMs);
            longestNetMs_ = std::max(longestNetMs_, netMs);
            if (netMs >= 50 && std::getenv("KESTOVA_BENCH_VERBOSE") != nullptr) {
                std::fprintf(stderr, "stall of %lld ms (%lld ms net) at %.2f s, %s\n",
                             static_cast<long long>(gapMs), static_cast<long long>(netMs),
                             static_cast<double>(since_.elapsed()) / 1000.0, deliveries.c_str());
            }
        });
        timedApplication().leaveOut(&timer_);
        since_.start();
        sinceLast_.start();
        lastWaitedNs_ = waitedForProcessorNs();
        timer_.start(5);
    }

    struct Stall {
        qint64 onTheClockMs;
        qint64 netMs;
        TimedApplication::Delivery longestDelivery;
    };
    // The longest gaps since the last call, and a fresh start.
    Stall takeLongest() {
        const Stall longest{longestMs_, longestNetMs_, timedApplication().takeLongestDelivery()};
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
    TimedApplication application(argc, argv);
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
    const long long stolenBefore = stolenFromMachineMs();
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
    std::printf("time stolen from the machine by its host over the test: %lld ms\n",
                stolenFromMachineMs() - stolenBefore);
    for (const auto& [span, stall] :
         {std::pair{"the test", whole}, std::pair{"start-up", startUp}}) {
        std::printf("longest event delivery over %s: %.1f ms (%s)\n", span,
                    static_cast<double>(stall.longestDelivery.ns) / 1e6,
                    stall.longestDelivery.what.c_str());
    }
    return ended ? 0 : 1;
}
