#pragma once

// The baseline a LIST through the program is measured against: a plain loop that reads the reply
// from a connected socket into a vector of strings, one per line.

#include <sys/socket.h>
#include <sys/types.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

// Waits for the greeting, calls `greeted` (a benchmark may start its clock there), sends LIST and
// returns every line up to the closing dot, its status line first, without line ends.
inline std::vector<std::string> PlainListRead(int fd, const std::function<void()>& greeted = {}) {
    std::vector<char> buffer(65536);
    size_t head = 0;
    size_t tail = 0;
    std::vector<std::string> lines;
    bool started = false;
    for (;;) {
        if (head == tail) {
            head = tail = 0;
        } else if (tail == buffer.size()) {
            std::memmove(buffer.data(), buffer.data() + head, tail - head);
            tail -= head;
            head = 0;
        }
        const ssize_t n = ::recv(fd, buffer.data() + tail, buffer.size() - tail, 0);
        if (n <= 0)
            return lines;
        tail += static_cast<size_t>(n);
        for (;;) {
            const char* from = buffer.data() + head;
            const char* lf = static_cast<const char*>(std::memchr(from, '\n', tail - head));
            if (!lf)
                break;
            size_t length = static_cast<size_t>(lf - from);
            head += length + 1;
            if (length > 0 && from[length - 1] == '\r')
                --length;
            if (!started) {
                started = true;
                if (greeted)
                    greeted();
                ::send(fd, "LIST\r\n", 6, MSG_NOSIGNAL);
            } else if (length == 1 && from[0] == '.') {
                return lines;
            } else {
                lines.emplace_back(from, length);
            }
        }
    }
}
