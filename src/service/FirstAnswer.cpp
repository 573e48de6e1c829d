#include "service/FirstAnswer.h"

#include <algorithm>

namespace kestova {

FirstAnswer connectToFirstAnswering(const std::vector<platform::IpEndpoint>& addresses,
                                    std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    FirstAnswer answer;
    bool anySocket = false;
    for (std::size_t k = 0; k < addresses.size(); ++k) {
        const Clock::time_point start = Clock::now();
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - start);
        if (left.count() <= 0) {
            break;
        }
        std::optional<platform::TcpSocket> socket =
            platform::TcpSocket::open(platform::familyOf(addresses[k]));
        if (!socket) {
            continue;  // this family is not to be had here: the next address may be
        }
        anySocket = true;
        const auto share =
            std::max(std::chrono::milliseconds(1),
                     left / static_cast<std::chrono::milliseconds::rep>(addresses.size() - k));
        if (socket->connect(addresses[k], share) == platform::IoStatus::Ok) {
            answer.connection =
                AnsweredConnection{std::move(*socket), addresses[k], Clock::now() - start};
            return answer;
        }
    }
    answer.noSocket = !anySocket && !addresses.empty();
    return answer;
}

}  // namespace kestova
