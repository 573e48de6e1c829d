// The pages in the real web engine, over status files prepared for each state of a test.
#include <gtest/gtest.h>

#include <QTest>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <filesystem>
#include <map>
#include <string>

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

struct PageCase {
    const char* name;
    std::map<std::string, std::string> files;
    std::vector<std::string> shown;
    std::vector<std::string> notShown;
};

class Pages : public testing::ProgramFolderTest, public ::testing::WithParamInterface<PageCase> {
  protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        testing::installPages();
    }
};

TEST_P(Pages, ShowWhatTheStatusFilesSay) {
    for (const auto& [name, content] : GetParam().files) {
        putFile("speedTest/" + name, content);
    }
    CExplorer1 view;
    view.resize(1200, 767);
    view.show();
    view.Navigate((folder() / "speedTest/index.html").c_str());
    const auto showsAll = [](const QString& text) {
        for (const std::string& expected : GetParam().shown) {
            if (!text.contains(QString::fromStdString(expected))) {
                return false;
            }
        }
        return true;
    };
    const QString text = testing::pageTextWhen(view, showsAll);
    EXPECT_TRUE(showsAll(text)) << text.toStdString();
    for (const std::string& absent : GetParam().notShown) {
        EXPECT_FALSE(text.contains(QString::fromStdString(absent))) << text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, Pages,
    ::testing::Values(
        PageCase{"before_any_test",
                 {{"dn_status.txt", "0"}, {"up_status.txt", "0"}, {"version.txt", "0"}},
                 {"Download\nWaiting", "Upload\nWaiting", "Press Start"},
                 {"Failed"}},
        PageCase{
            "download_running",
            {{"dn_status.txt", "1"}, {"up_status.txt", "0"}, {"ip_address.txt", "203.0.113.9"}},
            {"Measuring", "Upload\nWaiting", "Your address: 203.0.113.9"},
            {"Press Start"}},
        PageCase{
            "upload_running",
            {{"dn_status.txt", "2"}, {"up_status.txt", "1"}, {"dn_speed.txt", kDownloadMerged}},
            {"Completed", "40942.00", "Measuring"},
            {"42955.00"}},
        PageCase{"both_completed",
                 {{"dn_status.txt", "2"},
                  {"up_status.txt", "2"},
                  {"dn_speed.txt", kDownloadMerged},
                  {"up_speed.txt", kUploadMerged}},
                 {"40942.00", "42955.00", "Your connection: Download 40942.00 Mbit/s"},
                 {"Measuring", "Failed"}},
        PageCase{"service_unreachable",
                 {{"dn_status.txt", "-1"}, {"up_status.txt", "-1"}, {"error.txt", "e001"}},
                 {"Failed", "The test service cannot be reached"},
                 {}},
        PageCase{"assignment_or_download_failed",
                 {{"dn_status.txt", "-1"}, {"up_status.txt", "-1"}, {"error.txt", "e002"}},
                 {"Failed", "No test server could be assigned"},
                 {}},
        PageCase{"upload_failed",
                 {{"dn_status.txt", "2"},
                  {"up_status.txt", "-1"},
                  {"error.txt", "e003"},
                  {"dn_speed.txt", kDownloadMerged}},
                 {"40942.00", "The upload test did not complete"},
                 {}},
        PageCase{"chinese",
                 {{"dn_status.txt", "1"}, {"up_status.txt", "0"}, {"lang.txt", "zh"}},
                 {"凱斯沃寬速度測試", "下載", "測試中"},
                 {"Download"}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Pages, AnEmptyStatusFileCarriesNoNewValue) {
    putFile("speedTest/dn_status.txt", "1");
    putFile("speedTest/up_status.txt", "0");
    CExplorer1 view;
    view.resize(1200, 767);
    view.show();
    view.Navigate((folder() / "speedTest/index.html").c_str());
    ASSERT_TRUE(testing::pageTextWhen(view, [](const QString& t) {
                    return t.contains("Measuring");
                }).contains("Measuring"));
    putFile("speedTest/dn_status.txt", "");  // being written
    QTest::qWait(1200);
    const QString text = testing::pageTextWhen(view, [](const QString&) { return true; });
    EXPECT_TRUE(text.contains("Measuring")) << text.toStdString();
    EXPECT_FALSE(text.contains("Download\nWaiting")) << text.toStdString();
}

TEST_F(Pages, TheUpgradePageOffersTheUpdate) {
    CExplorer1 view;
    view.resize(1200, 767);
    view.show();
    view.Navigate((folder() / "speedTest/download.html").c_str());
    EXPECT_TRUE(testing::pageTextWhen(view, [](const QString& t) {
                    return t.contains("Update");
                }).contains("A new version of Kestova Connection Speed Test is available"));
}

}  // namespace
}  // namespace kestova

namespace kestova {
namespace {

// The pages' own policy forbids anything remote, even in a web view that would allow it: a
// remote picture or request the page might make is refused, and the page still reads its files.
TEST_F(Pages, ThePagesForbidEverythingRemote) {
    for (const char* page : {"index.html", "download.html"}) {
        // Before the view: an answer still on its way when the view goes is written here.
        QString refused;
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
        for (int i = 0; i < 50 && !refused.contains("connect-src"); ++i) {
            QTest::qWait(100);
            plainView.page()->runJavaScript(
                QStringLiteral("window.refused.join(' ')"),
                [&refused](const QVariant& v) { refused = v.toString(); });
        }
        EXPECT_TRUE(refused.contains("img-src")) << page << ": " << refused.toStdString();
        EXPECT_TRUE(refused.contains("connect-src")) << page << ": " << refused.toStdString();
    }
}

}  // namespace
}  // namespace kestova
