#pragma once

#include "posting/TArticleComposer.h"
#include "posting/TPostingHistory.h"

#include <map>
#include <string>
#include <vector>

// A run that replaces an earlier run's articles: which old article each group's new one
// supersedes, and the headers that make the server act on it. The server withdraws the old
// article only when the Supersedes carries the Cancel-Key that opens the old article's
// Cancel-Lock, so both are made from the same secret of the user's.
//
// Supersedes names one article. An article cross-posted to groups that held different old
// articles (the earlier run posted one to each) supersedes the old article of its first group
// and withdraws nothing else: the other old articles stay where they are, and their groups are
// not counted as replaced. When the earlier run cross-posted the same groups, the groups share
// their old article and the new one replaces it everywhere.
class TReplacement {
public:
    // By group of a new run to `groups`, the Message-ID of `earlier`'s article there: only for a
    // group whose article the server took (a refused group has nothing to replace, nor has one
    // verification found missing). In a cross-posting run (`groupsPerArticle` above 1) a group
    // is left out when its old article is not the one its article supersedes.
    static std::map<std::string, std::string>
    Of(const THistoryRun& earlier, const std::vector<std::string>& groups, int groupsPerArticle);
    // The old article an article to `groups` supersedes: that of the first of its groups with
    // one in `replaces`; empty for none.
    static std::string Superseded(const std::map<std::string, std::string>& replaces,
                                  const std::vector<std::string>& groups);
    // Gives `article` (to `groups`) its Supersedes and the Cancel-Key for it, made from the
    // article's CancelSecret (none without one; the server then keeps the old article). An
    // empty `replaces` leaves the article as it is.
    static void Apply(const std::map<std::string, std::string>& replaces,
                      const std::vector<std::string>& groups, TArticleRequest& article);
};
