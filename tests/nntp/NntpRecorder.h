#pragma once

#include "nntp/TIpNntpClient.h"

#include <functional>
#include <string>
#include <vector>

// Records what a client tells the application, in the order it is told, as short texts:
//   "response nsConnect 200 ready"   OnResponse(state, code, text)
//   "multi nsList 3"                 OnMultiLineResponse with the number of lines
//   "multi nsList 3 dropped 1"       ... and the number of overlong lines left out
//   "state nsGroup"                  OnStateChange
//   "task ntPostTo"                  OnTaskComplete
//   "error 10061 <text>"             OnSocketError
//   "tls accepted" / "tls refused"   OnTls (the peer kept in Peers)
// A test that wants to act like the application sets the After... hooks, which run inside the
// event after it has been recorded.
class NntpRecorder {
public:
    explicit NntpRecorder(TIpNntpClient& client);

    std::vector<std::string> Events;
    std::vector<TIpNntpStates> States;
    std::vector<std::vector<std::string>> Lists;
    std::vector<TIpTlsPeer> Peers;

    std::function<void(TIpNntpStates responseTo, int32_t code)> AfterResponse;
    std::function<void(TIpNntpStates responseTo)> AfterMultiLine;
    std::function<void(TIpNntpTasks task)> AfterTask;

    // Events that begin with `prefix`, in order.
    std::vector<std::string> Matching(const std::string& prefix) const;
    // Index of the first event equal to `event`, or -1.
    int IndexOf(const std::string& event) const;
    bool Has(const std::string& event) const { return IndexOf(event) >= 0; }
    // "nsConnect nsGroup ..." of the recorded state changes.
    std::string StateTrail() const;
};
