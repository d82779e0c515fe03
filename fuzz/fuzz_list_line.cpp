// A LIST line's group name, and reply lines joined from pieces cut where the input says.

#include "nntp/TIpGroupName.h"
#include "nntp/TIpReplyLineJoiner.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const std::string_view name = ListLineGroupName(input);
    if (!name.empty() && (!IsGroupName(name) || input.substr(0, name.size()) != name ||
                          name.find_first_of(" \t") != std::string_view::npos))
        std::abort();

    // Units cut as the data socket cuts them: at each CR LF, and a line longer than the receive
    // buffer (whose size the first byte sets) in pieces of that size.
    if (input.empty())
        return 0;
    const size_t capacity = static_cast<uint8_t>(input[0]) + 2;
    TIpReplyLineJoiner joiner;
    std::string line;
    for (size_t at = 1; at < input.size();) {
        const size_t end = input.find("\r\n", at);
        const size_t length =
            end != std::string_view::npos && end + 2 - at <= capacity ? end + 2 - at : capacity;
        std::string_view rest = input.substr(at, length);
        at += rest.size();
        do {
            if (joiner.Join(rest, line, rest) == TIpJoinedLine::jlWhole &&
                (line.size() > TIpReplyLineJoiner::MaxLineLength ||
                 line.find("\r\n") != std::string::npos))
                std::abort();
        } while (!rest.empty());
    }
    joiner.Flush(line);
    return 0;
}
