#pragma once

#include "posting/TArticleComposer.h"
#include "posting/TNewsOperation.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The articles a posting run would send, composed as the run composes them but never sent: the
// window's preview and the command line's dry run show them.
//
// An article's text is what goes to the server after POST, CR LF lines, without the line "."
// that ends it and without the extra "." the connection puts before a line that begins with one.
// Its size is that text's length in bytes. The run's Message-IDs are examples: each real run
// draws its own random part, so no article of a preview is ever the one a run posts.
class TArticlePreview {
public:
    struct TArticle {
        // The groups of its Newsgroups header, in the user's order.
        std::vector<std::string> Newsgroups;
        std::string MessageID;
        std::string Text;
    };

    explicit TArticlePreview(TArticleComposer composer = {});

    // Composes the run's articles one at a time, in the order the run posts them, and hands each
    // to `each` (the next one replaces it: a long run with an attachment is never held whole).
    // `each` returns false to stop. Raises what composing raises (no address, an attachment that
    // cannot be read).
    void Compose(const TNewsRequest& request,
                 const std::function<bool(const TArticle& article)>& each) const;

    // The text of a composed article, read as the connection reads it.
    static std::string WireText(TIpNewsArticle& article);
    // The header fields of an article's text, in order, each unfolded onto one line.
    static std::vector<std::string> HeaderFields(std::string_view text);

private:
    TArticleComposer FComposer;
};
