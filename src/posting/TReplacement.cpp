#include "posting/TReplacement.h"

#include "posting/TCancelLock.h"

#include <algorithm>

std::map<std::string, std::string> TReplacement::Of(const THistoryRun& earlier,
                                                    const std::vector<std::string>& groups,
                                                    int groupsPerArticle) {
    std::map<std::string, std::string> old;
    for (const THistoryGroup& group : earlier.Groups)
        if (group.Outcome == THistoryOutcome::hoAccepted && !group.MessageID.empty())
            old.emplace(group.Group, group.MessageID);
    std::map<std::string, std::string> replaces;
    const auto perArticle = static_cast<size_t>(std::max(groupsPerArticle, 1));
    for (const std::vector<size_t>& batch : TArticleComposer::Batches(groups.size(), perArticle)) {
        std::vector<std::string> names;
        for (const size_t index : batch)
            names.push_back(groups[index]);
        const std::string superseded = Superseded(old, names);
        for (const std::string& name : names)
            if (const auto found = old.find(name);
                found != old.end() && found->second == superseded)
                replaces.emplace(name, superseded);
    }
    return replaces;
}

std::string TReplacement::Superseded(const std::map<std::string, std::string>& replaces,
                                     const std::vector<std::string>& groups) {
    for (const std::string& group : groups)
        if (const auto found = replaces.find(group); found != replaces.end())
            return found->second;
    return {};
}

void TReplacement::Apply(const std::map<std::string, std::string>& replaces,
                         const std::vector<std::string>& groups, TArticleRequest& article) {
    if (replaces.empty())
        return;
    article.Supersedes = Superseded(replaces, groups);
    article.CancelKey = article.Supersedes.empty() || article.CancelSecret.empty()
                            ? std::string()
                            : TCancelLock::Key(article.CancelSecret, article.Supersedes);
}
