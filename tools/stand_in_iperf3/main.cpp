// Stand-in for iperf\iperf3.exe where no iperf3 for Windows is to be had: prints the recorded
// output of the server named by -p, the download one (recorded\dn_PORT.txt beside it) with -R and
// the upload one (recorded\up_PORT.txt) without, on standard output in text mode as a Windows
// console program writes. While the file recorded\hold exists it waits, up to 20 s.
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/ProgramFolder.h"
#include "platform/TextFile.h"

int main(int argc, char** argv) {
    std::string port;
    std::string direction = "up";
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "-p" && i + 1 < argc) {
            port = argv[++i];
        } else if (argument == "-R") {
            direction = "dn";
        }
    }
    const std::optional<std::string> folder = kestova::platform::executableFolder();
    if (!folder) {
        return 1;
    }
    const std::string recorded = *folder + "/recorded/";
    for (int waited = 0; waited < 200 && kestova::platform::readWholeFile(recorded + "hold");
         ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const std::optional<std::string> output =
        kestova::platform::readWholeFile(recorded + direction + "_" + port + ".txt");
    if (!output) {
        std::fputs("iperf3: error - unable to connect to server\n", stderr);
        return 1;
    }
    std::fwrite(output->data(), 1, output->size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
