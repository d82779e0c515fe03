#pragma once

// What a scripted peer received, cut into the articles a client posted.

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
