#include "NntpRecorder.h"

NntpRecorder::NntpRecorder(TIpNntpClient& client) {
    client.OnResponse = [this](TIpCustomNntpClient*, TIpNntpStates to, int32_t code,
                               const std::string& text) {
        Events.push_back("response " + TIpCustomNntpClient::StateName(to) + " " +
                         std::to_string(code) + (text.empty() ? "" : " " + text));
        if (AfterResponse)
            AfterResponse(to, code);
    };
    client.OnMultiLineResponse = [this](TIpCustomNntpClient* sender, TIpNntpStates to,
                                        std::vector<std::string>& list) {
        const uint32_t dropped = sender->DroppedLines();
        Events.push_back("multi " + TIpCustomNntpClient::StateName(to) + " " +
                         std::to_string(list.size()) +
                         (dropped > 0 ? " dropped " + std::to_string(dropped) : ""));
        Lists.push_back(list);
        if (AfterMultiLine)
            AfterMultiLine(to);
    };
    client.OnStateChange = [this](TIpCustomNntpClient*, TIpNntpStates state) {
        Events.push_back("state " + TIpCustomNntpClient::StateName(state));
        States.push_back(state);
    };
    client.OnTaskComplete = [this](TIpCustomNntpClient*, TIpNntpTasks task,
                                   std::vector<std::string>& list) {
        Events.push_back("task " + TIpCustomNntpClient::TaskName(task) +
                         (list.empty() ? "" : " with lines"));
        if (AfterTask)
            AfterTask(task);
    };
    client.OnSocketError = [this](TIpSockControl*, int, int32_t code, const std::string& text) {
        Events.push_back("error " + std::to_string(code) + " " + text);
    };
    client.OnTls = [this](TIpSockControl*, int, const TIpTlsPeer& peer) {
        Events.push_back(peer.Accepted ? "tls accepted" : "tls refused");
        Peers.push_back(peer);
    };
}

std::vector<std::string> NntpRecorder::Matching(const std::string& prefix) const {
    std::vector<std::string> result;
    for (const std::string& event : Events)
        if (event.compare(0, prefix.size(), prefix) == 0)
            result.push_back(event);
    return result;
}

int NntpRecorder::IndexOf(const std::string& event) const {
    for (size_t i = 0; i < Events.size(); ++i)
        if (Events[i] == event)
            return static_cast<int>(i);
    return -1;
}

std::string NntpRecorder::StateTrail() const {
    std::string trail;
    for (TIpNntpStates state : States) {
        if (!trail.empty())
            trail += ' ';
        trail += TIpCustomNntpClient::StateName(state);
    }
    return trail;
}
