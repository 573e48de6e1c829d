#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace kestova::testing {

// What a stage's live file must end as, read off its merged file independently of the program:
// "<end of the interval> <figure>" for every merged "[SUM]" line that is not a final total.
inline std::string mergedIntervalLines(const std::string& merged) {
    std::istringstream lines(merged);
    std::string line;
    std::string expected;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> tokens;
        for (std::string token; words >> token;) {
            tokens.push_back(token);
        }
        if (tokens.size() < 2 || tokens[0] != "[SUM]" || line.find("sender") != std::string::npos ||
            line.find("receiver") != std::string::npos) {
            continue;
        }
        for (std::size_t k = 1; k < tokens.size(); ++k) {
            if (tokens[k] == "Mbits/sec") {
                expected += tokens[1].substr(tokens[1].find('-') + 1) + " " + tokens[k - 1] + "\n";
                break;
            }
        }
    }
    return expected;
}

}  // namespace kestova::testing
