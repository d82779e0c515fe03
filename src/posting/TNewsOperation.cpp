#include "posting/TNewsOperation.h"

#include "net/TIpTlsLayer.h"
#include "posting/TReplacement.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <numeric>

static bool SameLogOn(const TNewsRequest& a, const TNewsRequest& b) {
    return a.Host == b.Host && a.Security == b.Security && a.Tls.CaFile == b.Tls.CaFile &&
           a.LogOn == b.LogOn && a.UserID == b.UserID && a.Password == b.Password;
}

// The refusal of an article posted again under its own Message-ID that says the server has it
// already: 435 (RFC 3977's "article not wanted"), or a 4xx reply that says duplicate.
static bool RefusedAsDuplicate(int32_t code, const std::string& line) {
    if (code == 435)
        return true;
    if (code / 100 != 4)
        return false;
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("duplicate") != std::string::npos;
}

// The place in `reply` where `name` stands as a name of its own, not as part of a longer one
// ("mod.test" in `No mailing address for "mod.test"`, not in "mod.test.d"); a full stop right
// after it may end the sentence.
static size_t NamePosition(const std::string& reply, const std::string& name) {
    const auto inName = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' ||
               c == '_';
    };
    for (size_t at = reply.find(name); !name.empty() && at != std::string::npos;
         at = reply.find(name, at + 1)) {
        const size_t end = at + name.size();
        const bool startsAlone = at == 0 || !inName(reply[at - 1]);
        const bool endsAlone =
            end == reply.size() || !inName(reply[end]) ||
            (reply[end] == '.' && (end + 1 == reply.size() || !inName(reply[end + 1])));
        if (startsAlone && endsAlone)
            return at;
    }
    return std::string::npos;
}

// Failures the client found in what the server said or asked: a server that breaks the protocol
// or will not serve the run as asked does not get better when the run connects again.
static bool EndsTheRun(int32_t code) {
    return code == TIpCustomNntpClient::ReplyTooLongCode || code == TIpNntpErrorCode::NoStartTls ||
           code == TIpNntpErrorCode::EncryptionRequired || code == TIpNntpErrorCode::LogOnRefused ||
           code == TIpNntpErrorCode::DataBeforeEncryption;
}

TNewsOperation::TNewsOperation()
    : FLogLine([this](const std::string& line) { Emit(FEvents.Log, line); }) {
    FConnections.push_back(std::make_unique<TNewsConnection>(AsOwner(), 1));
    FWork.resize(1);
}

TNewsOperation::~TNewsOperation() {
    FConnections.clear();
}

bool TNewsOperation::Busy() const {
    switch (FState) {
    case TState::Idle:
    case TState::Closing:
        return false;
    case TState::Connecting:
    case TState::Posting:
    case TState::Verifying:
    case TState::Listing:
        return true;
    }
    return false;
}

size_t TNewsOperation::GroupIndex() const {
    if (FKind != TKind::Run || FLedger.Count() == 0)
        return 0;
    return std::min(FLedger.Front(), FLedger.Count() - 1);
}

void TNewsOperation::StartPost(TNewsRequest request) {
    if (!request.Cancels.empty())
        DropUncancelled(request);
    if (request.Groups.empty())
        return;
    Start(TKind::Run, std::move(request));
}

// A cancel run sends nothing to a group it withdraws nothing from.
void TNewsOperation::DropUncancelled(TNewsRequest& request) {
    const bool placed = request.Places.size() == request.Groups.size();
    size_t kept = 0;
    for (size_t i = 0; i < request.Groups.size(); ++i) {
        if (request.Cancels.count(request.Groups[i]) == 0)
            continue;
        if (kept != i) {
            request.Groups[kept] = std::move(request.Groups[i]);
            if (placed)
                request.Places[kept] = request.Places[i];
        }
        ++kept;
    }
    request.Groups.resize(kept);
    if (placed)
        request.Places.resize(kept);
}

void TNewsOperation::StartList(TNewsRequest request) {
    request.Groups.clear();
    Start(TKind::Retrieval, std::move(request));
}

void TNewsOperation::Start(TKind kind, TNewsRequest request) {
    if (Busy())
        return;
    // A run's Message-IDs can be asked for by a resume only when they come from the run's own
    // random part, which a run cut short wrote down.
    const bool runIdKnown = !request.RunId.empty();
    if (kind == TKind::Run) {
        if (!runIdKnown)
            request.RunId = FComposer.NewRunId();
        if (request.Places.size() != request.Groups.size()) {
            request.Places.resize(request.Groups.size());
            std::iota(request.Places.begin(), request.Places.end(), size_t(0));
        }
        if (FRecorder) {
            // Before anything is sent: a run the recorder refuses does not start.
            try {
                FRecorder->RunStarted(request);
            } catch (const ERunRefused&) {
                throw;
            } catch (const std::exception& error) {
                throw EIpBaseException(JournalFailure(error.what(), 0));
            }
        }
    }
    TNewsConnection& first = First();
    const bool reusable = FState == TState::Idle && first.IsReady() && !first.Client().ReplyDue() &&
                          SameLogOn(first.Made(), request);
    const size_t connections =
        kind == TKind::Run ? static_cast<size_t>(std::clamp(request.Connections, 1, MaxConnections))
                           : 1;
    // Connections of an earlier run beyond the first, or one still closing after Abort.
    for (size_t i = 1; i < FConnections.size(); ++i)
        FConnections[i]->Close();
    if (!reusable) {
        // Raises before anything has started (an unknown host).
        try {
            first.Open(request);
        } catch (const std::exception&) {
            first.Close();
            if (kind == TKind::Run && FRecorder)
                FRecorder->RunEnded();
            throw;
        }
    }
    while (FConnections.size() < connections)
        FConnections.push_back(std::make_unique<TNewsConnection>(
            AsOwner(), static_cast<int>(FConnections.size()) + 1));
    FWork.assign(FConnections.size(), TWork{});
    FInUse = connections;
    FKind = kind;
    FRequest = std::move(request);
    FRequest.Connections = static_cast<int>(connections);
    FSummary = {};
    FSummary.RunId = FRequest.RunId;
    FGreeted201 = false;
    FArticleWent = false;
    FOthersPending = 0;
    FAnswered = 0;
    const size_t count = FRequest.Groups.size();
    FLedger.Start(count);
    FOutcomes.assign(count, TGroupOutcome{});
    FSummary.Outcomes.reserve(count);
    if (FKind == TKind::Run)
        FormArticles(runIdKnown);
    FToVerify.clear();
    FVerifyArticles.clear();
    FVerifyLedger.Start(0);
    FVerifiedCount = 0;
    if (!reusable) {
        SetState(TState::Connecting);
        return;
    }
    first.ResetCounts();
    FirstConnectionUp();
}

// The first connection is greeted and logged on: a retrieval lists, a run opens the others and
// posts.
void TNewsOperation::FirstConnectionUp() {
    if (FKind == TKind::Retrieval) {
        SetState(TState::Listing);
        ListGroups();
        return;
    }
    SetState(TState::Posting);
    OpenOtherConnections();
    GiveWork(First());
}

void TNewsOperation::Abort() {
    if (!Busy()) {
        if (FState == TState::Idle &&
            std::any_of(FConnections.begin(), FConnections.end(),
                        [](const auto& connection) { return connection->Client().Connected(); }))
            QuitAll();
        return;
    }
    FLedger.Drain(FLogLine, [this](size_t group) { Released(group); });
    Emit(FEvents.Log, "Aborted");
    const bool run = FKind == TKind::Run;
    QuitAll();
    if (run)
        EndRun();
}

void TNewsOperation::SetState(TState state) {
    const bool wasBusy = Busy();
    FState = state;
    if (wasBusy != Busy() && FEvents.BusyChanged)
        FEvents.BusyChanged(Busy());
}

size_t TNewsOperation::IndexOf(const TNewsConnection& connection) const {
    return static_cast<size_t>(connection.Number() - 1);
}

void TNewsOperation::ListGroups() {
    try {
        First().List();
    } catch (const std::exception& error) {
        First().Close();
        Fail(error.what());
    }
}

void TNewsOperation::OpenOtherConnections() {
    for (size_t i = 1; i < FInUse; ++i) {
        TNewsConnection& connection = *FConnections[i];
        try {
            connection.Open(FRequest);
            FWork[i].Opening = true;
            ++FOthersPending;
        } catch (const std::exception& error) {
            connection.Close();
            FWork[i].Refused = true;
            ConnectionEvent(connection, error.what());
        }
    }
    ReportConnectionCount();
}

void TNewsOperation::ReportConnectionCount() {
    if (FOthersPending > 0)
        return;
    const auto refused = static_cast<size_t>(
        std::count_if(FWork.begin(), FWork.begin() + static_cast<std::ptrdiff_t>(FInUse),
                      [](const TWork& work) { return work.Refused; }));
    if (refused > 0)
        Emit(FEvents.Log, "Posting over " + std::to_string(FInUse - refused) + " of " +
                              std::to_string(FInUse) + " connections");
}

void TNewsOperation::FormArticles(bool runIdKnown) {
    FArticles.clear();
    FWaiting.clear();
    if (CancelRun()) {
        FormCancels(runIdKnown);
        return;
    }
    const auto perArticle = static_cast<size_t>(std::max(FRequest.GroupsPerArticle, 1));
    // A resumed cross-post whose article went out goes out again as that article, whatever its
    // groups; the others gather by their batch in the run as it began.
    std::map<std::string, size_t> byMessageId;
    std::map<size_t, size_t> byBatch;
    for (size_t i = 0; i < FRequest.Groups.size(); ++i) {
        const auto sent = FRequest.SentBefore.find(FRequest.Groups[i]);
        const bool sentBefore = sent != FRequest.SentBefore.end();
        if (perArticle == 1 || sentBefore) {
            const std::string key = perArticle == 1 ? std::string() : sent->second;
            if (const auto same = byMessageId.find(key);
                !key.empty() && same != byMessageId.end()) {
                FArticles[same->second].Groups.push_back(i);
                continue;
            }
            const size_t item = AddArticle({i});
            if (sentBefore) {
                FArticles[item].MessageID = sent->second;
                FArticles[item].MaybeOnServer = sent->second;
            }
            if (!key.empty())
                byMessageId[key] = item;
            continue;
        }
        const size_t batch = FRequest.Places[i] / perArticle;
        if (const auto same = byBatch.find(batch); same != byBatch.end()) {
            FArticles[same->second].Groups.push_back(i);
            continue;
        }
        byBatch[batch] = AddArticle({i});
    }
    for (TArticle& article : FArticles) {
        if (!article.MaybeOnServer.empty())
            continue;
        // AddArticle named each article by its first group alone: one that gathered more groups
        // is named again for all of them.
        if (article.Groups.size() > 1)
            article.MessageID = TArticleComposer::ArticleMessageId(
                FRequest.Article.Address, FRequest.RunId, FRequest.Places[article.Groups.front()],
                article.Groups.size());
        if (FRequest.Resumed && runIdKnown)
            article.MaybeOnServer = article.MessageID;
    }
}

void TNewsOperation::FormCancels(bool runIdKnown) {
    std::vector<std::string> withdrawn;
    for (const auto& [group, id] : FRequest.Cancels)
        withdrawn.push_back(id);
    std::sort(withdrawn.begin(), withdrawn.end());
    withdrawn.erase(std::unique(withdrawn.begin(), withdrawn.end()), withdrawn.end());
    std::map<std::string, size_t> byWithdrawn;
    for (size_t i = 0; i < FRequest.Groups.size(); ++i) {
        const std::string& id = FRequest.Cancels.at(FRequest.Groups[i]);
        if (const auto same = byWithdrawn.find(id); same != byWithdrawn.end()) {
            FArticles[same->second].Groups.push_back(i);
            continue;
        }
        const size_t item = AddArticle({i});
        byWithdrawn[id] = item;
        TArticle& article = FArticles[item];
        const auto place = static_cast<size_t>(
            std::lower_bound(withdrawn.begin(), withdrawn.end(), id) - withdrawn.begin());
        article.MessageID =
            TArticleComposer::ArticleMessageId(FRequest.Article.Address, FRequest.RunId, place, 1);
        if (const auto sent = FRequest.SentBefore.find(FRequest.Groups[i]);
            sent != FRequest.SentBefore.end())
            article.MessageID = sent->second;
        if ((FRequest.Resumed && runIdKnown) || FRequest.SentBefore.count(FRequest.Groups[i]) > 0)
            article.MaybeOnServer = article.MessageID;
    }
}

std::string TNewsOperation::VerifiedId(const TGroupOutcome& outcome) const {
    if (!CancelRun())
        return outcome.MessageID;
    const auto withdrawn = FRequest.Cancels.find(outcome.Group);
    return withdrawn == FRequest.Cancels.end() ? outcome.MessageID : withdrawn->second;
}

size_t TNewsOperation::AddArticle(std::vector<size_t> groups) {
    TArticle& article = FArticles.emplace_back();
    article.Groups = std::move(groups);
    article.MessageID = TArticleComposer::ArticleMessageId(FRequest.Article.Address, FRequest.RunId,
                                                           FRequest.Places[article.Groups.front()],
                                                           article.Groups.size());
    const size_t item = FArticles.size() - 1;
    FWaiting.emplace(article.Groups.front(), item);
    return item;
}

std::optional<size_t> TNewsOperation::TakeArticle() {
    if (FWaiting.empty())
        return std::nullopt;
    const size_t item = FWaiting.begin()->second;
    FWaiting.erase(FWaiting.begin());
    return item;
}

std::vector<std::string> TNewsOperation::NamesOf(const TArticle& article) const {
    std::vector<std::string> names;
    names.reserve(article.Groups.size());
    for (const size_t group : article.Groups)
        names.push_back(FRequest.Groups[group]);
    return names;
}

void TNewsOperation::GiveWork(TNewsConnection& connection) {
    if (!connection.IsReady())
        return;
    TWork& work = FWork[IndexOf(connection)];
    work.What = TWork::TKind::None;
    if (FState == TState::Verifying) {
        const std::optional<size_t> item = FVerifyLedger.Take();
        if (!item)
            return;
        work.What = TWork::TKind::Verify;
        work.Item = *item;
        try {
            connection.Stat(VerifiedId(FSummary.Outcomes[FVerifyArticles[*item].front()]));
        } catch (const std::exception& error) {
            Fail(error.what());
        }
        return;
    }
    if (FState != TState::Posting)
        return;
    const std::optional<size_t> item = TakeArticle();
    if (!item)
        return;
    const size_t group = FArticles[*item].Groups.front();
    work.Item = *item;
    work.LogGroup = group;
    if (FEvents.GroupStarted)
        FEvents.GroupStarted(group, FRequest.Groups.size());
    if (FArticles[*item].MaybeOnServer.empty()) {
        PostArticle(connection, *item, std::string());
        return;
    }
    // The article may be there already: asked for before it is posted again.
    work.What = TWork::TKind::Check;
    try {
        connection.Stat(FArticles[*item].MaybeOnServer);
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}

void TNewsOperation::PostArticle(TNewsConnection& connection, size_t item,
                                 const std::string& messageId) {
    TWork& work = FWork[IndexOf(connection)];
    work.What = TWork::TKind::Post;
    work.Item = item;
    work.Repost = !messageId.empty();
    try {
        TIpNntpClient& client = connection.Client();
        const std::vector<std::string> names = NamesOf(FArticles[item]);
        if (CancelRun()) {
            FComposer.ComposeCancel(FRequest.Article, names, FRequest.Cancels.at(names.front()),
                                    client.Article(),
                                    messageId.empty() ? FArticles[item].MessageID : messageId);
        } else if (FRequest.ComposeArticle) {
            FRequest.ComposeArticle(names.front(), client.Article());
            if (names.size() > 1)
                client.Article().Newsgroups = {TArticleComposer::NewsgroupsValue(names)};
            if (!messageId.empty())
                client.Article().MessageID = messageId;
        } else {
            TReplacement::Apply(FRequest.Replaces, names, FRequest.Article);
            FComposer.Compose(FRequest.Article, names, client.Article(),
                              messageId.empty() ? FArticles[item].MessageID : messageId);
        }
        const std::string& going = client.Article().MessageID;
        if (!Record([&](TRunRecorder& recorder) {
                if (names.size() == 1)
                    recorder.ArticleGoing(names.front(), going);
                else
                    recorder.CrosspostGoing(names, going);
            }))
            return;
        work.SentAtPost = connection.Sent();
        connection.Post();
        work.ArticleSize = static_cast<uint64_t>(std::max<int64_t>(client.Article().Size(), 0));
    } catch (const std::exception& error) {
        Fail(error.what());
    }
}

void TNewsOperation::AnswerArticle(size_t item, const TGroupOutcome& outcome) {
    const std::vector<size_t> groups = FArticles[item].Groups;
    for (const size_t group : groups) {
        // A recorder that fails stops the run in the middle of an article.
        if (FState != TState::Posting)
            return;
        TGroupOutcome each = outcome;
        each.Group = FRequest.Groups[group];
        Answer(group, std::move(each));
    }
}

void TNewsOperation::Split(size_t item, const std::string& reply) {
    const std::vector<size_t> groups = FArticles[item].Groups;
    const std::vector<std::string> names = NamesOf(FArticles[item]);
    const std::string messageId = FArticles[item].MessageID;
    if (!Record([&](TRunRecorder& recorder) { recorder.CrosspostRefused(names, messageId); }))
        return;
    // The group the reply names earliest; a name inside another's ("a.b" in "a.b.c") is none.
    std::optional<size_t> named;
    size_t namedAt = std::string::npos;
    for (size_t i = 0; i < names.size(); ++i)
        if (const size_t at = NamePosition(reply, names[i]); at < namedAt) {
            named = i;
            namedAt = at;
        }
    std::vector<size_t> first;
    std::vector<size_t> second;
    for (size_t i = 0; i < groups.size(); ++i) {
        const bool inFirst = named ? i == *named : i < (groups.size() + 1) / 2;
        (inFirst ? first : second).push_back(groups[i]);
    }
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "" : ",") + name;
    FLedger.Line(groups.front(),
                 "The article to " + list + " was refused as a whole; " +
                     (named ? "posting " + names[*named] + " alone and the other groups again"
                            : "posting it again in two halves"),
                 FLogLine);
    AddArticle(std::move(first));
    AddArticle(std::move(second));
}

std::string TNewsOperation::JournalFailure(const std::string& reason, size_t groups) {
    return "The run journal cannot be written (" + reason + "); stopped after " +
           std::to_string(groups) + " groups so that no group is posted twice";
}

// A run whose record cannot be kept could post a group twice once resumed: it stops here, and
// what its journal holds stays resumable.
bool TNewsOperation::Record(const std::function<void(TRunRecorder& recorder)>& call) {
    if (!FRecorder)
        return true;
    try {
        call(*FRecorder);
        return true;
    } catch (const std::exception& error) {
        FArticleWent = true;
        Fail(JournalFailure(error.what(), FAnswered));
        return false;
    }
}

void TNewsOperation::Answer(size_t group, TGroupOutcome outcome) {
    ++FAnswered;
    FOutcomes[group] = std::move(outcome);
    FLedger.Done(group);
    if (!Record([&](TRunRecorder& recorder) { recorder.GroupAnswered(FOutcomes[group]); }))
        return;
    // Released in the request's order, so each outcome lands at its group's index.
    FLedger.Release(FLogLine, [this](size_t released) { Released(released); });
    if (FLedger.AllReleased() && FState == TState::Posting)
        AfterPosting();
}

void TNewsOperation::Released(size_t group) {
    const TGroupOutcome& done = FSummary.Outcomes.emplace_back(std::move(FOutcomes[group]));
    if (done.Accepted) {
        ++FSummary.Accepted;
    } else {
        ++FSummary.Refused;
        if (FSummary.FirstRefusal.empty())
            FSummary.FirstRefusal = done.Reply;
    }
    if (FEvents.GroupDone)
        FEvents.GroupDone(done);
}

void TNewsOperation::AfterPosting() {
    // The groups of a cross-post are one article to ask for.
    std::map<std::string, size_t> byMessageId;
    if (FRequest.Verify || CancelRun()) {
        for (size_t i = 0; i < FSummary.Outcomes.size(); ++i) {
            const TGroupOutcome& outcome = FSummary.Outcomes[i];
            if (!outcome.Accepted)
                continue;
            FToVerify.push_back(i);
            if (FRequest.GroupsPerArticle > 1 || CancelRun()) {
                const auto [same, added] =
                    byMessageId.try_emplace(outcome.MessageID, FVerifyArticles.size());
                if (!added) {
                    FVerifyArticles[same->second].push_back(i);
                    continue;
                }
            }
            FVerifyArticles.push_back({i});
        }
    }
    if (FToVerify.empty()) {
        Finish();
        return;
    }
    FVerifyLedger.Start(FVerifyArticles.size());
    SetState(TState::Verifying);
    for (size_t i = 0; i < FInUse; ++i)
        GiveWork(*FConnections[i]);
}

void TNewsOperation::Verified(size_t item, bool found) {
    const auto verification =
        found ? TGroupOutcome::TVerification::Verified : TGroupOutcome::TVerification::Missing;
    for (const size_t outcome : FVerifyArticles[item])
        FSummary.Outcomes[outcome].Verification = verification;
    FVerifyLedger.Done(item);
    FVerifyLedger.Release(FLogLine, [](size_t) {});
    // Reported in the request's order, whichever article's verdict came first.
    while (FVerifiedCount < FToVerify.size()) {
        const TGroupOutcome& done = FSummary.Outcomes[FToVerify[FVerifiedCount]];
        if (done.Verification == TGroupOutcome::TVerification::NotChecked)
            break;
        ++FVerifiedCount;
        if (done.Verification == TGroupOutcome::TVerification::Verified)
            ++FSummary.Verified;
        else
            ++FSummary.Missing;
        if (FEvents.GroupVerified)
            FEvents.GroupVerified(done);
    }
    if (FVerifiedCount == FToVerify.size())
        Finish();
}

void TNewsOperation::Finish() {
    CloseAll(true);
    SetState(TState::Idle);
    EndRun();
    if (FEvents.Finished)
        FEvents.Finished(FSummary);
}

// The run's record stays open: whatever is not answered can still be resumed.
void TNewsOperation::Fail(const std::string& message) {
    if (!Busy())
        return;
    if (FKind == TKind::Run)
        FLedger.Drain(FLogLine, [this](size_t group) { Released(group); });
    CloseAll(true);
    SetState(TState::Idle);
    Emit(FEvents.Failed, message);
}

void TNewsOperation::EndRun() {
    if (FKind != TKind::Run || !FRecorder)
        return;
    // An end line that cannot be written leaves the run looking cut short: resuming it asks the
    // server about what is left, which posts nothing twice.
    try {
        FRecorder->RunEnded();
    } catch (const std::exception&) {
    }
}

// The first connection, when it is up and owes nothing, stays for the next operation; the
// others get QUIT.
void TNewsOperation::CloseAll(bool keepFirst) {
    for (size_t i = 0; i < FConnections.size(); ++i) {
        TNewsConnection& connection = *FConnections[i];
        if (i == 0 && keepFirst && connection.IsReady())
            continue;
        if (connection.IsReady())
            connection.Quit();
        else if (connection.State() != TNewsConnection::TState::Closing)
            connection.Close();
    }
}

void TNewsOperation::QuitAll() {
    SetState(TState::Closing);
    for (const auto& connection : FConnections)
        if (connection->State() != TNewsConnection::TState::Closing)
            connection->Quit();
    EndClosing();
}

void TNewsOperation::EndClosing() {
    if (FState != TState::Closing)
        return;
    if (std::none_of(FConnections.begin(), FConnections.end(), [](const auto& connection) {
            return connection->State() == TNewsConnection::TState::Closing;
        }))
        SetState(TState::Idle);
}

void TNewsOperation::GiveBack(TNewsConnection& connection) {
    TWork& work = FWork[IndexOf(connection)];
    switch (work.What) {
    case TWork::TKind::None:
        break;
    case TWork::TKind::Post:
    case TWork::TKind::Check:
        FWaiting.emplace(FArticles[work.Item].Groups.front(), work.Item);
        break;
    case TWork::TKind::Verify:
        FVerifyLedger.PutBack(work.Item);
        break;
    }
    work.What = TWork::TKind::None;
    work.LogGroup.reset();
}

bool TNewsOperation::AnyConnectionLeft() const {
    return std::any_of(FConnections.begin(),
                       FConnections.begin() + static_cast<std::ptrdiff_t>(FInUse),
                       [](const auto& connection) { return connection->Alive(); });
}

std::string TNewsOperation::Prefix(const TNewsConnection& connection) const {
    return FInUse > 1 ? "Connection " + std::to_string(connection.Number()) + ": " : std::string();
}

void TNewsOperation::Emit(const std::function<void(const std::string&)>& event,
                          const std::string& text) {
    if (event)
        event(text);
}

void TNewsOperation::ConnectionLine(TNewsConnection& connection, const std::string& line) {
    const size_t index = IndexOf(connection);
    if (FInUse <= 1 || index >= FInUse) {
        Emit(FEvents.Log, line);
        return;
    }
    const TWork& work = FWork[index];
    if (FKind == TKind::Run && work.LogGroup) {
        FLedger.Line(*work.LogGroup, line, FLogLine);
        return;
    }
    Emit(FEvents.Log, Prefix(connection) + line);
}

void TNewsOperation::ConnectionEvent(TNewsConnection& connection, const std::string& line) {
    Emit(FEvents.Log, Prefix(connection) + line);
}

void TNewsOperation::ConnectionStatus(TNewsConnection&, const std::string& text) {
    Emit(FEvents.Status, text);
}

void TNewsOperation::ConnectionGreeted(TNewsConnection& connection, int32_t code) {
    const size_t index = IndexOf(connection);
    // An extra connection on which posting is not allowed would only have its groups refused.
    if (code == 201 && index > 0 && index < FInUse && FWork[index].Opening && !FGreeted201) {
        connection.Close();
        ConnectionLost(connection, "This news server does NOT allow posting!!", 0);
        return;
    }
    if (code != 201 || FState != TState::Connecting || index != 0)
        return;
    FGreeted201 = true;
    Emit(FEvents.Notice, "This news server does NOT allow posting!!");
    // Without a log-on nothing more is asked of this server; a log-on may still open it to the
    // command.
    if (!FRequest.LogOn)
        QuitAll();
}

void TNewsOperation::ConnectionLoggedOn(TNewsConnection& connection, int32_t code) {
    if (code == 281 || FState != TState::Connecting || IndexOf(connection) != 0)
        return;
    if (FRequest.EndOnRefusedLogOn) {
        const std::string message =
            "The news server refused the log-on: " + connection.Client().LastLine();
        QuitAll();
        Emit(FEvents.Failed, message);
        return;
    }
    // After a 201 greeting only an accepted log-on can open the server to posting; the group
    // list may be read either way.
    if (FKind == TKind::Run && FGreeted201)
        QuitAll();
}

void TNewsOperation::ConnectionUp(TNewsConnection& connection) {
    const size_t index = IndexOf(connection);
    if (index >= FInUse)
        return;
    TWork& work = FWork[index];
    work.Served = false;
    switch (FState) {
    case TState::Idle:
    case TState::Closing:
    case TState::Listing:
        return;
    case TState::Connecting:
        if (index == 0)
            FirstConnectionUp();
        return;
    case TState::Posting:
    case TState::Verifying:
        if (work.Opening) {
            work.Opening = false;
            --FOthersPending;
            ReportConnectionCount();
        }
        GiveWork(connection);
        return;
    }
}

void TNewsOperation::ConnectionArticleGoing(TNewsConnection& connection) {
    const TWork& work = FWork[IndexOf(connection)];
    if (work.What != TWork::TKind::Post)
        return;
    FArticleWent = true;
    // Until its verdict comes, the article may be on the server.
    FArticles[work.Item].MaybeOnServer = connection.Client().Article().MessageID;
}

void TNewsOperation::ConnectionAnswered(TNewsConnection& connection, TIpNntpStates to, int32_t code,
                                        const std::string& line) {
    if (FState != TState::Posting && FState != TState::Verifying)
        return;
    TWork& work = FWork[IndexOf(connection)];
    work.Served = true;
    work.Tries = 0;
    const size_t item = work.Item;
    TGroupOutcome outcome;
    outcome.Code = code;
    outcome.Reply = line;
    switch (work.What) {
    case TWork::TKind::None:
        return;
    case TWork::TKind::Verify:
        work.What = TWork::TKind::None;
        Verified(item, code == 223);
        break;
    case TWork::TKind::Check:
        if (code != 223) {
            // Not there (430), or the server would not say: posted again under the same
            // Message-ID, which a server that has it refuses.
            PostArticle(connection, item, FArticles[item].MaybeOnServer);
            return;
        }
        work.What = TWork::TKind::None;
        outcome.MessageID = FArticles[item].MaybeOnServer;
        outcome.ArticleSent = true;
        outcome.Accepted = true;
        AnswerArticle(item, outcome);
        break;
    case TWork::TKind::Post:
        work.What = TWork::TKind::None;
        outcome.MessageID = connection.Client().Article().MessageID;
        outcome.ArticleSent = to == TIpNntpStates::nsPost;
        outcome.Accepted =
            outcome.ArticleSent && (code == 240 || (work.Repost && RefusedAsDuplicate(code, line)));
        if (outcome.ArticleSent && !outcome.Accepted && FArticles[item].Groups.size() > 1 &&
            !CancelRun())
            Split(item, line);
        else
            AnswerArticle(item, outcome);
        break;
    }
    GiveWork(connection);
}

bool TNewsOperation::ConnectionListLine(TNewsConnection&, std::string_view line) {
    if (FState != TState::Listing || !FEvents.ListLine)
        return false;
    FEvents.ListLine(line);
    return true;
}

void TNewsOperation::ConnectionListed(TNewsConnection&, std::vector<std::string>& lines,
                                      bool forUs) {
    forUs = forUs && FState == TState::Listing;
    const bool refused = !lines.empty() && !lines.front().empty() &&
                         (lines.front()[0] == '4' || lines.front()[0] == '5');
    if (FEvents.MultiLine)
        FEvents.MultiLine(lines, forUs && !refused && !lines.empty());
    if (forUs)
        SetState(TState::Idle);
}

void TNewsOperation::ConnectionLost(TNewsConnection& connection, const std::string& message,
                                    int32_t code) {
    const size_t index = IndexOf(connection);
    if (index >= FInUse || !Busy())
        return;
    if (code == TIpTlsCode::CertificateRefused) {
        // The question about the certificate replaces the error box.
        const bool nothingPosted = FKind == TKind::Retrieval || !FArticleWent;
        CloseAll(true);
        SetState(TState::Idle);
        if (FEvents.CertificateRefused)
            FEvents.CertificateRefused(connection.Client().TlsPeer(), nothingPosted);
        return;
    }
    if (FState == TState::Connecting || FState == TState::Listing) {
        Fail(message);
        return;
    }
    TWork& work = FWork[index];
    if (!work.Opening && EndsTheRun(code)) {
        Fail(message);
        return;
    }
    // A connection that has served since it came up starts its tries afresh; one lost again
    // before serving anything counts as a failed try, so a server that drops every connection
    // ends the run.
    const bool served = connection.WasUp() && work.Served;
    const bool owedNothing = served && work.What == TWork::TKind::None;
    if (work.What == TWork::TKind::Post || work.What == TWork::TKind::Check) {
        if (++FArticles[work.Item].Tries >= GroupTries) {
            std::string names;
            for (const std::string& name : NamesOf(FArticles[work.Item]))
                names += (names.empty() ? "" : ",") + name;
            Fail("Gave up on " + names + " after " + std::to_string(GroupTries) +
                 " tries: " + message);
            return;
        }
    }
    GiveBack(connection);
    if (work.Opening) {
        // An extra connection the server would not have: the run goes on without it.
        work.Opening = false;
        work.Refused = true;
        --FOthersPending;
        ReportConnectionCount();
    } else if (owedNothing) {
        // Closed between two commands: opened again at once.
        connection.Reopen(FRequest, 0);
    } else {
        if (static_cast<size_t>(work.Tries) < FReconnectDelays.size()) {
            const int delay = FReconnectDelays[static_cast<size_t>(work.Tries)];
            ++work.Tries;
            ConnectionEvent(connection, "Reconnecting in " + std::to_string((delay + 999) / 1000) +
                                            " s (try " + std::to_string(work.Tries) + " of " +
                                            std::to_string(FReconnectDelays.size()) + ")");
            connection.Reopen(FRequest, delay);
        }
    }
    if (!AnyConnectionLeft()) {
        Fail(message);
        return;
    }
    // What the lost connection had goes to one that is free.
    for (size_t i = 0; i < FInUse; ++i)
        if (FWork[i].What == TWork::TKind::None)
            GiveWork(*FConnections[i]);
}

void TNewsOperation::ConnectionClosed(TNewsConnection&) {
    EndClosing();
}

void TNewsOperation::ConnectionProgress(TNewsConnection& connection) {
    if (!Busy() || IndexOf(connection) >= FInUse)
        return;
    if (FEvents.Progress) {
        uint64_t received = 0;
        for (size_t i = 0; i < FInUse; ++i)
            received += FConnections[i]->Received();
        FEvents.Progress(received);
    }
    if (!FEvents.ArticleProgress)
        return;
    uint64_t sent = 0;
    uint64_t total = 0;
    bool underWay = false;
    for (size_t i = 0; i < FInUse; ++i) {
        const TNewsConnection& each = *FConnections[i];
        const TWork& work = FWork[i];
        if (work.What != TWork::TKind::Post ||
            (each.State() != TNewsConnection::TState::AwaitPost &&
             each.State() != TNewsConnection::TState::AwaitVerdict))
            continue;
        underWay = true;
        const uint64_t out = each.Sent() > work.SentAtPost ? each.Sent() - work.SentAtPost : 0;
        sent += std::min(out, work.ArticleSize);
        total += work.ArticleSize;
    }
    if (underWay)
        FEvents.ArticleProgress(sent, total);
}

// Every connection says what it is encrypted with: the connections of one run may reach
// different machines behind one name, with certificates of their own.
void TNewsOperation::ConnectionEncrypted(TNewsConnection& connection, const TIpTlsPeer& peer) {
    ConnectionEvent(connection, "Encrypted connection: " + peer.Protocol + ", cipher " +
                                    peer.Cipher + ", certificate of " + peer.Subject +
                                    " (address " + peer.Address + ")");
    if (FEvents.Encrypted)
        FEvents.Encrypted(peer);
}
