#pragma once

// A scripted peer's run of three groups, and what it received cut into the articles posted.

#include "support/ScriptedPeer.h"

#include <string>
#include <vector>

// The article lines between each POST and the "." that ends it, one string per article.
inline std::vector<std::string> ArticlesIn(const std::string& received) {
    std::vector<std::string> articles;
    size_t at = 0;
    while ((at = received.find("POST\r\n", at)) != std::string::npos) {
        at += 6;
        const size_t end = received.find("\r\n.\r\n", at);
        if (end == std::string::npos)
            break;
        articles.push_back(received.substr(at, end - at));
        at = end + 5;
    }
    return articles;
}

inline std::string NewsgroupsOf(const std::string& article) {
    const size_t at = article.find("Newsgroups: ");
    return at == std::string::npos ? std::string()
                                   : article.substr(at + 12, article.find("\r\n", at) - at - 12);
}

// Three groups: the first article accepted after a pause (so a client that does not wait for the
// verdict sends its next POST too early), the second refused, the third group's POST refused.
inline void ScriptThreeGroupRun(ScriptedPeer& peer) {
    peer.Send("200 ready\r\n")
        .WaitFor("POST\r\n")
        .Send("340 go\r\n")
        .WaitFor("\r\n.\r\n")
        .Pause(200)
        .Send("240 ok\r\n")
        .WaitFor("POST\r\n")
        .Send("340 go\r\n")
        .WaitFor("\r\n.\r\n")
        .Send("441 refused\r\n")
        .WaitFor("POST\r\n")
        .Send("440 no\r\n");
}
