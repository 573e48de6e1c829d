// Any reply: the body cut must lie inside it and never stop the program.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "service/ReplyBody.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const std::string body = kestova::extractReplyBody(reply);
    if (!body.empty() && reply.find(body) == std::string_view::npos) {
        std::abort();
    }
    return 0;
}
