// The pages in the real web engine, over workspace files prepared for each moment of a test.
#include <gtest/gtest.h>

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QSet>
#include <QTest>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "controls/Explorer1.h"
#include "support/PageText.h"
#include "support/ProgramFolderFixture.h"
#include "support/TestData.h"

namespace kestova {
namespace {

const std::string kDownloadMerged =
    "[SUM] 0.00-1.00 sec 1.60 GBytes 40000.00 Mbits/sec \n"
    "[SUM] 0.00-10.00 sec 14.8 GBytes 40942.00 Mbits/sec receiver \n\niperf Done.";
const std::string kUploadMerged =
    "[SUM] 0.00-1.00 sec 1.60 GBytes 42000.00 Mbits/sec \n"
    "[SUM] 0.00-10.00 sec 19.6 GBytes 42955.00 Mbits/sec receiver \n\niperf Done.";

// The live lines of a stage: "<end of interval> <total Mbit/s>".
const std::string kDownloadLiveAtSecond4 = "1.00 801.20\n2.00 815.44\n3.00 809.90\n4.00 812.34\n";
const std::string kDownloadLiveWhole =
    "1.00 40100.00\n2.00 40950.12\n3.00 41020.55\n4.00 40890.00\n5.00 41002.31\n"
    "6.00 40977.80\n7.00 40930.10\n8.00 41011.64\n9.00 40960.00\n10.00 40990.02\n";
const std::string kUploadLiveAtSecond3 = "1.00 41800.50\n2.00 42990.25\n3.00 42870.75\n";
const std::string kUploadLiveWhole =
    "1.00 41800.50\n2.00 42990.25\n3.00 42870.75\n4.00 43010.00\n5.00 42950.40\n"
    "6.00 42980.00\n7.00 42910.66\n8.00 43005.10\n9.00 42940.00\n10.00 42960.30\n";
const std::string kLatencyDuringDownload =
    "idle 12.34 1.20 10 0\ndownload 85.02 9.50 8 0\nupload - - 0 0\n";
const std::string kLatencyWhole =
    "idle 12.34 1.20 10 0\ndownload 85.02 9.50 20 0\nupload 40.08 3.10 20 1\n";
const std::string kHistory =
    "time,download_mbps,upload_mbps,idle_ms,download_ms,upload_ms,servers,outcome\n"
    "2026-12-10T09:01:00+08:00,101.00,51.00,11.00,80.00,40.00,2/2,completed\n"
    "2026-12-10T09:02:00+08:00,102.00,52.00,12.00,80.00,40.00,2/2,completed\n"
    "2026-12-10T09:03:00+08:00,,,,,,,e001\n"
    "2026-12-10T09:04:00+08:00,104.00,,14.00,81.00,,2/2,e003\n"
    "2026-12-10T09:05:00+08:00,105.00,55.00,15.00,82.00,41.00,1/2,completed\n"
    "2026-12-10T09:06:00+08:00,106.00,56.00,16.04,83.00,42.00,2/2,completed\n";

// A test that completed with one of three download servers missing.
std::map<std::string, std::string> completedWithAServerNote() {
    return {{"dn_status.txt", "2"},
            {"up_status.txt", "2"},
            {"dn_speed.txt", kDownloadMerged},
            {"up_speed.txt", kUploadMerged},
            {"dn_live.txt", kDownloadLiveWhole},
            {"up_live.txt", kUploadLiveWhole},
            {"dn_servers.txt", "2/3"},
            {"up_servers.txt", "3/3"},
            {"latency.txt", kLatencyWhole}};
}

// Questions put to the page, each answered as text.
const char* const kProgress = "String(document.getElementById('progress').value)";
const char* const kProgressLook = "document.getElementById('progress').className";
const char* const kDownloadPoints =
    "String(document.querySelectorAll('#chart circle[fill=\"#3fc1c9\"]').length)";
const char* const kUploadPoints =
    "String(document.querySelectorAll('#chart circle[fill=\"#f6c177\"]').length)";
// The upload's line is dashed, so the two lines differ in more than colour.
const char* const kUploadLineDash =
    "document.querySelector('#chart path.upload').getAttribute('stroke-dasharray')";
const char* const kChartLabels =
    "Array.from(document.querySelectorAll('#chart text')).map(e => e.textContent).join('|')";
const char* const kHistoryTimes =
    "Array.from(document.querySelectorAll('#history-rows tr td:first-child'))"
    ".map(e => e.textContent).join('|')";

struct PageCase {
    const char* name;
    std::map<std::string, std::string> files;
    std::vector<std::string> shown;
    std::vector<std::string> notShown;
    std::vector<std::pair<const char*, std::string>> answers = {};  // question, answer
};

void PrintTo(const PageCase& c, std::ostream* out) {
    *out << c.name;
}

class Pages : public testing::ProgramFolderTest {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        testing::installPages();
        // The view takes the program folder it is made in as its home.
        view_ = std::make_unique<CExplorer1>();
        view_->resize(1200, 767);
        view_->show();
    }

    void putWorkspace(const std::map<std::string, std::string>& files) {
        for (const auto& [name, content] : files) {
            putFile("speedTest/" + name, content);
        }
    }
    void openIndex() { view_->Navigate((folder() / "speedTest/index.html").c_str()); }

    QString textShowing(const std::vector<std::string>& expected) {
        const auto showsAll = [&](const QString& text) {
            for (const std::string& part : expected) {
                if (!text.contains(QString::fromStdString(part))) {
                    return false;
                }
            }
            return true;
        };
        const QString text = testing::pageTextWhen(*view_, showsAll);
        EXPECT_TRUE(showsAll(text)) << text.toStdString();
        return text;
    }
    QString answer(const char* question, const std::string& expected) {
        return testing::pageValueWhen(*view_, QString::fromUtf8(question), [&](const QString& a) {
            return a == QString::fromStdString(expected);
        });
    }
    // How many times the page has looked at the files.
    int looksSoFar() {
        return testing::pageValueWhen(*view_, QStringLiteral("String(window.looksAtTheFiles || 0)"),
                                      [](const QString&) { return true; })
            .toInt();
    }
    // What the page shows after two more looks at the files.
    QString textAfterTwoLooks() {
        const int looks = looksSoFar();
        testing::pageValueWhen(*view_, QStringLiteral("String(window.looksAtTheFiles || 0)"),
                               [looks](const QString& now) { return now.toInt() >= looks + 2; });
        return testing::pageTextWhen(*view_, [](const QString&) { return true; });
    }

    std::unique_ptr<CExplorer1> view_;
};

// The page's look, as the window chooses it from the desktop's palette, and its background.
const char* const kThemes[] = {"dark", "light"};
const std::map<std::string, std::string> kBackgrounds = {{"dark", "rgb(35, 37, 41)"},
                                                         {"light", "rgb(244, 246, 249)"}};
const char* const kBackground = "getComputedStyle(document.body).backgroundColor";
const std::map<std::string, QColor> kBackgroundColours = {{"dark", QColor(35, 37, 41)},
                                                          {"light", QColor(244, 246, 249)}};

// The WCAG 2.1 A and AA rules of axe-core, and its rules that every part of the page is within a
// landmark (one of them main) under a first-level heading, run inside the page: each violation as
// "<rule> (<impact>): <element> <element> ...", a line each; empty when the page keeps them all.
QString accessibilityViolations(QWebEngineView& view) {
    std::ifstream file(KESTOVA_AXE_SCRIPT);
    const std::string axe{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (axe.empty()) {
        return QStringLiteral(
            "axe-core is missing (scripts/install-dependencies installs it): " KESTOVA_AXE_SCRIPT);
    }
    view.page()->runJavaScript(QString::fromStdString(axe));
    view.page()->runJavaScript(
        QStringLiteral("window.axeReport = '';"
                       "axe.run(document, {runOnly: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa'],"
                       "  rules: {'landmark-one-main': {enabled: true}, 'region': {enabled: true},"
                       "          'page-has-heading-one': {enabled: true}}})"
                       "  .then(function (r) {"
                       "    window.axeReport = 'ran\\n' + r.violations.map(function (v) {"
                       "      return v.id + ' (' + v.impact + '): ' + v.nodes.map(function (n) {"
                       "        return n.target.join(' ');"
                       "      }).join('  ');"
                       "    }).join('\\n');"
                       "  }, function (e) { window.axeReport = 'ran\\naxe failed: ' + e; });"));
    const QString report = testing::pageValueWhen(
        view, QStringLiteral("window.axeReport || ''"),
        [](const QString& r) { return r.startsWith(QStringLiteral("ran\n")); });
    if (!report.startsWith(QStringLiteral("ran\n"))) {
        return QStringLiteral("axe-core gave no answer");
    }
    return report.mid(4);
}

// The page's look set on its root, as the window sets it.
void setTheme(QWebEngineView& view, const char* theme) {
    view.page()->runJavaScript(
        QStringLiteral("document.documentElement.classList.remove('dark', "
                       "'light'); document.documentElement.classList.add('") +
        QString::fromUtf8(theme) + QStringLiteral("'); 'set'"));
    testing::pageValueWhen(view, QStringLiteral("document.documentElement.className"),
                           [&](const QString& c) { return c == QString::fromUtf8(theme); });
}

class PageStates : public Pages, public ::testing::WithParamInterface<PageCase> {};

// Every state of the page, in each look, keeps the WCAG 2.1 AA rules that axe-core checks.
TEST_P(PageStates, KeepTheAccessibilityRules) {
    putWorkspace(GetParam().files);
    openIndex();
    textShowing(GetParam().shown);
    for (const char* theme : kThemes) {
        setTheme(*view_, theme);
        EXPECT_EQ(answer(kBackground, kBackgrounds.at(theme)).toStdString(),
                  kBackgrounds.at(theme));
        EXPECT_EQ(accessibilityViolations(*view_).toStdString(), "") << theme;
    }
}

TEST_P(PageStates, ShowWhatTheWorkspaceFilesSay) {
    putWorkspace(GetParam().files);
    openIndex();
    const QString text = textShowing(GetParam().shown);
    for (const std::string& absent : GetParam().notShown) {
        EXPECT_FALSE(text.contains(QString::fromStdString(absent))) << text.toStdString();
    }
    for (const auto& [question, expected] : GetParam().answers) {
        EXPECT_EQ(answer(question, expected).toStdString(), expected) << question;
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, PageStates,
    ::testing::Values(
        PageCase{"before_any_test",
                 {{"dn_status.txt", "0"}, {"up_status.txt", "0"}, {"version.txt", "0"}},
                 {"Download\nWaiting", "Upload\nWaiting", "Press Start", "No results yet."},
                 {"Failed", "Latency:"},
                 {{kProgress, "0"},
                  {kDownloadPoints, "0"},
                  {kChartLabels, "0|20|40|60|80|100|0|1|2|3|4|5|6|7|8|9|10 s"}}},
        PageCase{
            "download_running",
            {{"dn_status.txt", "1"}, {"up_status.txt", "0"}, {"ip_address.txt", "203.0.113.9"}},
            {"Measuring", "Upload\nWaiting", "Your address: 203.0.113.9"},
            {"Press Start"}},
        PageCase{"download_running_at_second_4",
                 {{"dn_status.txt", "1"},
                  {"up_status.txt", "0"},
                  {"dn_live.txt", kDownloadLiveAtSecond4},
                  {"up_live.txt", kUploadLiveWhole},  // the last test's: the upload waits
                  {"latency.txt", kLatencyDuringDownload}},
                 {"Measuring\u2026 second 4", "812.34", "Upload\nWaiting", "20 %",
                  "Latency: 12.3 ms idle, 85.0 ms during download\n"},
                 {"during upload", "Press Start", "801.20"},
                 {{kProgress, "4"},
                  {kProgressLook, ""},
                  {kDownloadPoints, "4"},
                  {kUploadPoints, "0"},
                  {kChartLabels, "0|200|400|600|800|1000|0|1|2|3|4|5|6|7|8|9|10 s"}}},
        PageCase{"no_latency_sample_answered",
                 {{"dn_status.txt", "1"},
                  {"up_status.txt", "0"},
                  {"latency.txt", "idle - - 0 10\ndownload - - 0 2\nupload - - 0 0\n"}},
                 {"Latency: unanswered connection attempts: 12\n"},
                 {"ms idle", "during download"}},
        PageCase{"upload_running",
                 {{"dn_status.txt", "2"},
                  {"up_status.txt", "1"},
                  {"dn_speed.txt", kDownloadMerged},
                  {"dn_live.txt", kDownloadLiveWhole},
                  {"up_live.txt", kUploadLiveAtSecond3}},
                 {"Completed", "40942.00", "Measuring\u2026 second 3", "42870.75", "65 %"},
                 {"42955.00"},
                 {{kProgress, "13"}, {kDownloadPoints, "10"}, {kUploadPoints, "3"}}},
        PageCase{"an_interval_ending_after_the_tenth_second",
                 {{"dn_status.txt", "1"},
                  {"up_status.txt", "0"},
                  {"dn_live.txt", "1.00 40.00\n9.00 45.00\n10.09 30.50\n"}},
                 {"second 10", "30.50"},
                 {},
                 {{kChartLabels, "0|10|20|30|40|50|0|1|2|3|4|5|6|7|8|9|10 s"}}},
        PageCase{"both_completed",
                 {{"dn_status.txt", "2"},
                  {"up_status.txt", "2"},
                  {"dn_speed.txt", kDownloadMerged},
                  {"up_speed.txt", kUploadMerged}},
                 {"Your connection: Download 40942.00 Mbit/s, Upload 42955.00 Mbit/s", "100 %"},
                 {"Measuring", "Failed", "Only"},
                 // Without live lines the chart takes the merged files' intervals.
                 {{kProgressLook, "completed"}, {kDownloadPoints, "1"}, {kUploadPoints, "1"}}},
        // Where the servers did not measure over the same time, the stage's figure file gives
        // the figure that counts each second once, not the merged file's sum.
        PageCase{"figures_that_count_each_second_once",
                 {{"dn_status.txt", "2"},
                  {"up_status.txt", "2"},
                  {"dn_speed.txt", kDownloadMerged},
                  {"up_speed.txt", kUploadMerged},
                  {"dn_figure.txt", "33785.14"},
                  {"up_figure.txt", "42955.00"}},
                 {"Your connection: Download 33785.14 Mbit/s, Upload 42955.00 Mbit/s"},
                 {"40942.00"}},
        PageCase{"both_completed_with_a_server_note",
                 completedWithAServerNote(),
                 {"Download\nCompleted\n40942.00Mbit/s\nOnly 2 of 3 test servers completed; this "
                  "figure counts only those.",
                  "Latency: 12.3 ms idle, 85.0 ms during download, 40.1 ms during upload; "
                  "unanswered connection attempts: 1"},
                 {"Upload\nCompleted\n42955.00Mbit/s\nOnly"},
                 {{kProgress, "20"},
                  {kDownloadPoints, "10"},
                  {kUploadPoints, "10"},
                  {kUploadLineDash, "9 5"}}},
        PageCase{"service_unreachable",
                 {{"dn_status.txt", "-1"}, {"up_status.txt", "-1"}, {"error.txt", "e001"}},
                 {"Failed", "The test service cannot be reached"},
                 {}},
        // The files of an earlier test stay in the workspace; this test never ran a stage.
        PageCase{"assignment_failed_after_an_earlier_test",
                 {{"dn_status.txt", "-1"},
                  {"up_status.txt", "-1"},
                  {"error.txt", "e002"},
                  {"dn_live.txt", kDownloadLiveWhole},
                  {"dn_servers.txt", "1/3"},
                  {"latency.txt", kLatencyWhole}},
                 {"Failed", "No test server could be assigned", "0 %"},
                 {"Latency:", "Only", "40990.02"},
                 {{kProgress, "0"}, {kProgressLook, "failed"}, {kDownloadPoints, "0"}}},
        PageCase{"upload_failed",
                 {{"dn_status.txt", "2"},
                  {"up_status.txt", "-1"},
                  {"error.txt", "e003"},
                  {"dn_speed.txt", kDownloadMerged}},
                 {"40942.00", "The upload test did not complete", "50 %"},
                 {},
                 {{kProgressLook, "failed"}}},
        PageCase{"chinese",
                 {{"dn_status.txt", "2"},
                  {"up_status.txt", "1"},
                  {"lang.txt", "zh"},
                  {"dn_speed.txt", kDownloadMerged},
                  {"dn_servers.txt", "1/2"},
                  {"up_live.txt", kUploadLiveAtSecond3},
                  {"latency.txt", kLatencyDuringDownload},
                  {"history.csv", kHistory}},
                 {"凱斯沃寬速度測試", "下載", "測試中… 第 3 秒",
                  "只有 1 / 2 台測試伺服器完成，此結果只計入這些伺服器。",
                  "延遲：閒置時 12.3 ms，下載時 85.0 ms", "最近結果", "失敗 (e003)"},
                 {"Download", "Latency", "Failed"}},
        PageCase{"chinese_completed",
                 {{"dn_status.txt", "2"},
                  {"up_status.txt", "2"},
                  {"lang.txt", "zh"},
                  {"dn_speed.txt", kDownloadMerged},
                  {"up_speed.txt", kUploadMerged}},
                 {"您的連線：下載 40942.00 Mbit/s，上傳 42955.00 Mbit/s", "100 %"},
                 {"Your connection", "Mbit/s, "}},
        PageCase{
            "the_last_five_results",
            {{"dn_status.txt", "0"}, {"up_status.txt", "0"}, {"history.csv", kHistory}},
            {"Last results", "Completed", "Failed (e003)", "Failed (e001)", "16.0 ms", "106.00"},
            {"101.00", "No results yet."},
            {{kHistoryTimes,
              "2026-12-10 09:06|2026-12-10 09:05|2026-12-10 09:04|2026-12-10 09:03|"
              "2026-12-10 09:02"}}}),
    [](const auto& param) { return std::string(param.param.name); });

// A screen reader hears each change of a stage, its figure or a failure once: the polite live
// region is written when its text changes, not at each look nor at each second's figure.
TEST_F(Pages, TheLiveRegionSaysEachChangeOnce) {
    putWorkspace(
        {{"dn_status.txt", "1"}, {"up_status.txt", "0"}, {"dn_live.txt", kDownloadLiveAtSecond4}});
    openIndex();
    textShowing({"Measuring\u2026 second 4"});
    const char* const kSaid = "document.getElementById('announcement').textContent";
    EXPECT_EQ(answer(kSaid, "Download: Measuring\u2026").toStdString(),
              "Download: Measuring\u2026");
    view_->page()->runJavaScript(
        QStringLiteral("window.writes = 0; new MutationObserver(function (m) { window.writes += "
                       "m.length; }).observe(document.getElementById('announcement'), "
                       "{childList: true, characterData: true, subtree: true}); 'watching'"));
    answer("typeof window.writes", "number");

    putWorkspace({{"dn_live.txt", kDownloadLiveWhole}});
    textShowing({"second 10", "40990.02"});
    textAfterTwoLooks();
    EXPECT_EQ(answer("String(window.writes)", "0").toStdString(), "0");

    putWorkspace({{"dn_status.txt", "2"},
                  {"up_status.txt", "-1"},
                  {"error.txt", "e003"},
                  {"dn_speed.txt", kDownloadMerged}});
    const std::string failed =
        "Download: Completed 40942.00 Mbit/s. Upload: Failed. The upload test did not complete. "
        "Please try again later.";
    EXPECT_EQ(answer(kSaid, failed).toStdString(), failed);
    textAfterTwoLooks();
    EXPECT_EQ(answer("String(window.writes > 0 && window.writes <= 2)", "true").toStdString(),
              "true");
}

// At the window's size the page needs no scrolling: what is there for screen readers only takes no
// room. At 200 % zoom the page is 600 CSS pixels wide: it reflows into one column and needs no
// sideways scrolling.
TEST_F(Pages, FitsTheWindowAndReflowsAtTwiceTheZoom) {
    std::map<std::string, std::string> files = completedWithAServerNote();
    files["history.csv"] = kHistory;
    putWorkspace(files);
    openIndex();
    textShowing({"Your connection", "Last results"});
    const char* const kFitsTheWindow =
        "String(document.documentElement.scrollHeight <= document.documentElement.clientHeight)";
    EXPECT_EQ(answer(kFitsTheWindow, "true").toStdString(), "true");

    view_->setZoomFactor(2.0);
    const char* const kFitsAcross =
        "String(document.documentElement.scrollWidth <= "
        "document.documentElement.clientWidth && window.innerWidth === 600)";
    EXPECT_EQ(answer(kFitsAcross, "true").toStdString(), "true");
}

TEST_F(Pages, AnEmptyFileCarriesNoNewValue) {
    putWorkspace({{"dn_status.txt", "1"},
                  {"up_status.txt", "0"},
                  {"dn_live.txt", kDownloadLiveAtSecond4},
                  {"latency.txt", kLatencyDuringDownload}});
    openIndex();
    textShowing({"Measuring\u2026 second 4", "812.34", "12.3 ms idle"});
    // Each being written at once.
    putWorkspace({{"dn_status.txt", ""}, {"dn_live.txt", ""}, {"latency.txt", ""}});
    const QString text = textAfterTwoLooks();
    EXPECT_TRUE(text.contains("Measuring\u2026 second 4")) << text.toStdString();
    EXPECT_TRUE(text.contains("812.34")) << text.toStdString();
    EXPECT_TRUE(text.contains("12.3 ms idle")) << text.toStdString();
    EXPECT_FALSE(text.contains("Download\nWaiting")) << text.toStdString();
    EXPECT_EQ(answer(kDownloadPoints, "4").toStdString(), "4");
}

// The chart and the bar grow with the lines, and a new test starts from nothing even while the
// last test's lines are still in the files.
TEST_F(Pages, ANewTestShowsItsOwnLinesAsTheyCome) {
    putWorkspace({{"dn_status.txt", "2"},
                  {"up_status.txt", "2"},
                  {"dn_speed.txt", kDownloadMerged},
                  {"up_speed.txt", kUploadMerged},
                  {"dn_live.txt", kDownloadLiveWhole},
                  {"up_live.txt", kUploadLiveWhole},
                  {"latency.txt", kLatencyWhole}});
    openIndex();
    textShowing({"100 %", "40.1 ms during upload"});

    putWorkspace({{"dn_status.txt", "1"}, {"up_status.txt", "0"}});  // Restart
    const QString started = textShowing({"Download\nMeasuring\u2026\n", "0 %"});
    EXPECT_FALSE(started.contains("40990.02")) << started.toStdString();
    EXPECT_FALSE(started.contains("Latency:")) << started.toStdString();
    EXPECT_EQ(answer(kDownloadPoints, "0").toStdString(), "0");
    EXPECT_EQ(answer(kUploadPoints, "0").toStdString(), "0");

    putWorkspace({{"dn_live.txt", "1.00 500.25\n"}});
    textShowing({"second 1", "500.25", "5 %"});
    EXPECT_EQ(answer(kDownloadPoints, "1").toStdString(), "1");
    putWorkspace(
        {{"dn_live.txt", "1.00 500.25\n2.00 612.50\n"}, {"latency.txt", "idle 9.96 0.50 10 0\n"}});
    textShowing({"second 2", "612.50", "10 %", "Latency: 10.0 ms idle"});
    EXPECT_EQ(answer(kDownloadPoints, "2").toStdString(), "2");
}

TEST_F(Pages, TheUpgradePageOffersTheUpdate) {
    view_->Navigate((folder() / "speedTest/download.html").c_str());
    EXPECT_TRUE(testing::pageTextWhen(*view_, [](const QString& t) {
                    return t.contains("Update");
                }).contains("A new version of Kestova Connection Speed Test is available"));
}

TEST_F(Pages, TheUpgradePageKeepsTheAccessibilityRules) {
    view_->Navigate((folder() / "speedTest/download.html").c_str());
    testing::pageTextWhen(*view_, [](const QString& t) { return t.contains("Update"); });
    for (const char* theme : kThemes) {
        setTheme(*view_, theme);
        EXPECT_EQ(accessibilityViolations(*view_).toStdString(), "") << theme;
    }
}

// Pictures of the page at moments of a test, in each look, kept for a person to look at: ready,
// download at its fourth second, upload under way, both completed with a server note, failed, and
// the upload under way in Chinese.
TEST_F(Pages, PicturesAtMomentsOfATest) {
    const std::string history = kHistory;
    const std::vector<std::pair<const char*, std::map<std::string, std::string>>> moments = {
        {"ready", {{"dn_status.txt", "0"}, {"up_status.txt", "0"}, {"history.csv", history}}},
        {"download-second-4",
         {{"dn_status.txt", "1"},
          {"up_status.txt", "0"},
          {"ip_address.txt", "203.0.113.9"},
          {"dn_live.txt", kDownloadLiveAtSecond4},
          {"latency.txt", kLatencyDuringDownload},
          {"history.csv", history}}},
        {"upload-running",
         {{"dn_status.txt", "2"},
          {"up_status.txt", "1"},
          {"dn_speed.txt", kDownloadMerged},
          {"dn_live.txt", kDownloadLiveWhole},
          {"up_live.txt", kUploadLiveAtSecond3},
          {"latency.txt", kLatencyDuringDownload}}},
        {"completed-server-note", completedWithAServerNote()},
        {"failed",
         {{"dn_status.txt", "2"},
          {"up_status.txt", "-1"},
          {"error.txt", "e003"},
          {"dn_speed.txt", kDownloadMerged},
          {"dn_live.txt", kDownloadLiveWhole},
          {"up_live.txt", ""},
          {"dn_servers.txt", "3/3"},
          {"latency.txt", kLatencyWhole}}},
        {"chinese-upload-running",
         {{"dn_status.txt", "2"},
          {"up_status.txt", "1"},
          {"lang.txt", "zh"},
          {"dn_speed.txt", kDownloadMerged},
          {"dn_live.txt", kDownloadLiveWhole},
          {"up_live.txt", kUploadLiveAtSecond3},
          {"dn_servers.txt", "1/2"},
          {"latency.txt", kLatencyDuringDownload}}}};
    const std::filesystem::path pictures = KESTOVA_SCREENSHOT_DIR;
    std::filesystem::create_directories(pictures);
    for (const auto& [name, files] : moments) {
        for (const char* file : {"dn_live.txt", "up_live.txt", "dn_servers.txt", "up_servers.txt",
                                 "latency.txt", "lang.txt"}) {
            std::filesystem::remove(folder() / "speedTest" / file);
        }
        putWorkspace(files);
        openIndex();
        textShowing({"%"});
        textAfterTwoLooks();
        for (const char* theme : kThemes) {
            setTheme(*view_, theme);
            // The look is painted once the page's corner has the look's background.
            const QColor background = kBackgroundColours.at(theme);
            QImage picture;
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    picture = view_->grab().toImage();
                    return picture.pixelColor(2, 2) == background;
                },
                5000))
                << theme;
            const std::string path =
                (pictures /
                 ("page-" + std::string(name) +
                  (std::string(theme) == "dark" ? "" : "-" + std::string(theme)) + ".png"))
                    .string();
            // Kept from a real display only (the same test runs under Xvfb), so that the two
            // runs never write one file at once.
            if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
                EXPECT_TRUE(picture.save(QString::fromStdString(path))) << path;
            }
            QSet<QRgb> colours;
            for (int y = 0; y < picture.height(); y += 7) {
                for (int x = 0; x < picture.width(); x += 7) {
                    colours.insert(picture.pixel(x, y));
                }
            }
            EXPECT_GT(colours.size(), 20) << path << " looks empty";
        }
    }
}

}  // namespace
}  // namespace kestova

namespace kestova {
namespace {

// The pages' own policy forbids anything remote, even in a web view that would allow it: a
// remote picture or request the page might make is refused, and the page still reads its files.
TEST_F(Pages, ThePagesForbidEverythingRemote) {
    for (const char* page : {"index.html", "download.html"}) {
        QWebEngineView plainView;
        plainView.settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls,
                                           true);
        plainView.resize(1200, 767);
        plainView.show();
        plainView.setUrl(QUrl::fromLocalFile((folder() / "speedTest" / page).c_str()));
        ASSERT_FALSE(testing::pageTextWhen(plainView, [](const QString& t) {
                         return !t.isEmpty();
                     }).isEmpty());
        plainView.page()->runJavaScript(
            QStringLiteral("window.refused = [];"
                           "document.addEventListener('securitypolicyviolation',"
                           "  function (e) { window.refused.push(e.violatedDirective); });"
                           "var img = new Image(); img.src = 'http://127.0.0.1:9/picture.png';"
                           "document.body.appendChild(img);"
                           "fetch('https://example.org/data').catch(function () {});"));
        const QString refused = testing::pageValueWhen(
            plainView, QStringLiteral("window.refused.join(' ')"),
            [](const QString& text) { return text.contains("connect-src"); });
        EXPECT_TRUE(refused.contains("img-src")) << page << ": " << refused.toStdString();
        EXPECT_TRUE(refused.contains("connect-src")) << page << ": " << refused.toStdString();
    }
}

}  // namespace
}  // namespace kestova
