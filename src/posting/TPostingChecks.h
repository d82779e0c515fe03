#pragma once

#include "posting/TNewsOperation.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One thing the checks before a run found. An error stops the run before anything goes out; a
// warning is the user's to weigh.
struct TPostingFinding {
    enum class TKind : uint8_t {
        NoSubject,
        BadAddress,
        UnreadableAttachment,
        NoGroups,
        BadGroupName,
        BadFollowupTo,
        EmptyBody,
        RepeatedGroups,
        UnknownGroups,
        ManySeparateCopies,
        CrossPostWithoutFollowupTo
    };
    TKind Kind = TKind::NoSubject;
    std::string Text;

    bool IsError() const;
};

// What the window, the wizard and the command line look at before a posting run connects: what
// would make every article fail or be malformed (errors), and what servers and readers take
// badly or what was likely not meant (warnings). Each front end shows the findings its own way;
// the texts are the same everywhere.
//
// The server's group list, when one has been fetched, lets the checks name the groups a server
// would refuse; without one nothing is said about them.
class TPostingChecks {
public:
    // More separate copies than this are what servers treat as excessive multi-posting.
    static constexpr size_t MaxSeparateCopies = 20;
    // A cross-post to more groups than this without Followup-To spreads its replies to all.
    static constexpr size_t MaxGroupsWithoutFollowupTo = 2;
    // Names listed in a finding about groups before the rest is only counted.
    static constexpr size_t NamesShown = 10;

    // Whether the server's list holds a group; empty when no list has been fetched.
    using TKnownGroup = std::function<bool(const std::string& group)>;

    // Errors first, then warnings. Only the run's own groups are looked up, so a list of a
    // million names costs no more than a few lookups.
    static std::vector<TPostingFinding> Check(const TNewsRequest& request,
                                              const TKnownGroup& knownGroup = {});
    static bool HasErrors(const std::vector<TPostingFinding>& findings);
    // Whether what was found offers the user a cross-post in place of separate copies.
    static bool OffersCrossPost(const std::vector<TPostingFinding>& findings);

    // Can name a group in Newsgroups or Followup-To: not empty, and free of blanks, control
    // characters and commas, which divide the names of those headers.
    static bool IsPostableGroupName(std::string_view name);
    // Empty when the address is one an article can carry (local@domain as RFC 5322 writes an
    // address, without blanks), else why not: TArticleComposer::AddressProblem's texts, or one of its own.
    static std::string AddressProblem(std::string_view address);
    // The groups with every repeat after the first left out, in order: each is posted once.
    static std::vector<std::string> WithoutRepeats(const std::vector<std::string>& groups);
};
