#pragma once

#include "net/EIpWinSockError.h"
#include "net/TIpDataSocket.h"
#include "net/TIpSockControl.h"

#include <memory>
#include <string>
#include <vector>

// A minimal client over the socket control for the socket-layer tests: it holds at most one data
// socket, as the protocol clients do, and records what the component reports.
class TestClient : public TIpSockControl {
public:
    struct Status {
        TIpStatusType Type;
        TIpConnRec Connection;
        TIpSockStatRec Statistics;
    };

    TestClient() {
        OnStatus = [this](TIpSockControl*, int, TIpStatusType type, const TIpConnRec& connection,
                          const TIpSockStatRec& statistics) {
            Statuses.push_back({type, connection, statistics});
            Events.push_back(type == TIpStatusType::stConnect      ? "connect"
                             : type == TIpStatusType::stDisconnect ? "disconnect"
                                                                   : "progress");
        };
        OnSocketError = [this](TIpSockControl*, int, int32_t code, const std::string& text) {
            ErrorCodes.push_back(code);
            ErrorTexts.push_back(text);
            Events.push_back("error " + std::to_string(code));
        };
        OnItemSent = [this](TIpSockControl*, int, uint32_t item, uint32_t left) {
            ItemsSent.push_back({item, left});
        };
    }
    ~TestClient() override { Socket.reset(); }

    void CreateSocket() override {
        Socket = std::make_unique<TIpDataSocket>(*this, nullptr, &Settings(), BindAddress());
    }
    void FreeSocket(int handle) override {
        FindSocket(handle, true);
        Socket.reset();
        ++Released;
    }
    bool IsActive() const override { return Socket != nullptr; }
    TIpDataSocket* FindSocket(int handle, bool raise) override {
        if (Socket && Socket->Handle() == handle)
            return Socket.get();
        return TIpSockControl::FindSocket(handle, raise);
    }
    void Tick(uint32_t elapsed) override {
        if (Socket)
            Socket->HandleTick(elapsed);
    }
    // Lines are taken at once, inside the read processing, as the protocol client does.
    void DeliverLine(int, const std::string& text) override {
        Lines.push_back(text);
        Events.push_back("line " + text);
    }

    // Creates the socket and starts connecting to "127.0.0.1:<port>"; returns the handle.
    int Connect(const std::string& address) {
        if (!Socket)
            CreateSocket();
        Socket->ConnectTo(ResolveAddress(address, 119), address);
        return Socket->Handle();
    }
    bool Connected() const { return Socket && Socket->Connected(); }
    int Handle() const { return Socket ? Socket->Handle() : -1; }

    std::unique_ptr<TIpDataSocket> Socket;
    std::vector<std::string> Lines;
    std::vector<std::string> Events;
    std::vector<Status> Statuses;
    std::vector<int32_t> ErrorCodes;
    std::vector<std::string> ErrorTexts;
    std::vector<std::pair<uint32_t, uint32_t>> ItemsSent;
    int Released = 0;
};
