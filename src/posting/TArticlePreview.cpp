#include "posting/TArticlePreview.h"

#include "mime/TIpNewsArticle.h"
#include "posting/TReplacement.h"

#include <algorithm>

TArticlePreview::TArticlePreview(TArticleComposer composer) : FComposer(std::move(composer)) {}

void TArticlePreview::Compose(const TNewsRequest& request,
                              const std::function<bool(const TArticle& article)>& each) const {
    const std::string runId = FComposer.NewRunId();
    const auto perArticle = static_cast<size_t>(std::max(request.GroupsPerArticle, 1));
    TIpNewsArticle article;
    // Each article supersedes the old article of its own groups.
    TArticleRequest articleRequest = request.Article;
    TArticle preview;
    for (const std::vector<size_t>& batch :
         TArticleComposer::Batches(request.Groups.size(), perArticle)) {
        preview.Newsgroups.clear();
        for (const size_t group : batch)
            preview.Newsgroups.push_back(request.Groups[group]);
        // Named like the run names the article of its first group.
        TReplacement::Apply(request.Replaces, preview.Newsgroups, articleRequest);
        preview.MessageID =
            FComposer.Compose(articleRequest, preview.Newsgroups, article,
                              TArticleComposer::ArticleMessageId(request.Article.Address, runId,
                                                                 batch.front(), batch.size()));
        preview.Text = WireText(article);
        if (!each(preview))
            return;
    }
}

std::string TArticlePreview::WireText(TIpNewsArticle& article) {
    article.ComposeText();
    article.SetPosition(0);
    const int64_t size = article.Size();
    std::string text;
    text.reserve(static_cast<size_t>(std::max<int64_t>(size, 0)));
    std::string line;
    int64_t position = 0;
    while (position < size) {
        article.ReadLineCRLF(line);
        const int64_t next = article.Position();
        // The last line is the "." that ends the article on the wire, not part of it.
        if (next >= size || next <= position)
            break;
        text += line;
        position = next;
    }
    return text;
}

std::vector<std::string> TArticlePreview::HeaderFields(std::string_view text) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        if (line.empty())
            break;
        if ((line.front() == ' ' || line.front() == '\t') && !fields.empty())
            fields.back() += line;
        else
            fields.emplace_back(line);
        start = end + 2;
    }
    return fields;
}
