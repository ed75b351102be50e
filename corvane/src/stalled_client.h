// Which client a newcomer may replace when a server's table is full: the
// one that has kept something waiting longest, if for `limit` or more. Both
// of corvane's servers use it, each with its own sense of waiting.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

namespace corvane {

// `waitingSince(c)`: since when client c has left its queue full unread, or
// nothing when it keeps up. clients.end() when none has waited `limit`.
template <class Client, class WaitingSince>
typename std::vector<Client>::iterator longestStalled(std::vector<Client>& clients, WaitingSince waitingSince,
                                                     std::chrono::seconds limit) {
    const auto now = std::chrono::steady_clock::now();
    auto found = clients.end();
    std::chrono::steady_clock::time_point oldest;
    for (auto c = clients.begin(); c != clients.end(); ++c) {
        const std::optional<std::chrono::steady_clock::time_point> since = waitingSince(*c);
        if (since && now - *since >= limit && (found == clients.end() || *since < oldest)) found = c, oldest = *since;
    }
    return found;
}

}  // namespace corvane
