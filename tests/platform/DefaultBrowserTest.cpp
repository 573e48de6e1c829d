#include "platform/DefaultBrowser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestova::platform {
namespace {

TEST(DefaultBrowser, TheCommandReplacesTheFieldCodeByTheAddress) {
    const std::string address = "https://iperf.fr/";
    const std::pair<const char*, const char*> table[] = {
        {"/usr/bin/firefox-esr %u", "/usr/bin/firefox-esr  https://iperf.fr/"},
        {"/usr/bin/chromium %U", "/usr/bin/chromium  https://iperf.fr/"},
        {"browser -url \"%u\" --new", "browser -url  https://iperf.fr/"},
        {"viewer %F", "viewer  https://iperf.fr/"},
        {"plainbrowser", "plainbrowser https://iperf.fr/"},
    };
    for (const auto& [exec, command] : table) {
        EXPECT_EQ(browserCommandLine(exec, address), command) << exec;
    }
    EXPECT_EQ(commandWords("browser -url  https://iperf.fr/ %i"),
              (std::vector<std::string>{"browser", "-url", "https://iperf.fr/"}));
}

TEST(DefaultBrowser, TheExecLineComesFromTheDesktopEntryGroup) {
    EXPECT_EQ(execLineOfDesktopEntry("[Desktop Entry]\nName=Web\nExec=web %u\n"
                                     "[Desktop Action new]\nExec=web --new %u\n"),
              std::optional<std::string>("web %u"));
    EXPECT_EQ(execLineOfDesktopEntry("[Desktop Action new]\nExec=web --new\n"), std::nullopt);
    EXPECT_EQ(execLineOfDesktopEntry(""), std::nullopt);
}

}  // namespace
}  // namespace kestova::platform
