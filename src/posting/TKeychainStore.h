#pragma once

#include "posting/TSecretStore.h"

// The secret store of the user's desktop session (the Secret Service on the session bus),
// reached through the keychain library; entries are kept under the service name "Heraldix".
//
// The library's jobs run asynchronously but may wait for a hung service for as long as the
// bus allows (some 50 seconds); each request therefore has a timer of its own, and a store that
// has not answered within TimeoutMs counts as unavailable. The job is then left to end by itself
// and its late answer is ignored. A locked collection refusing a write, or access the user
// denied, is answered as ssLocked; every other error but "entry not found" (no bus, no service)
// as ssUnavailable, each with the library's text as the reason. Needs only Qt Core and an event
// loop, so a program without windows uses it as well.
class TKeychainStore : public TSecretStore {
public:
    static constexpr int TimeoutMs = 5000;

    void Read(const QString& key, QObject* context, TAnswerHandler handler) override;
    void Write(const QString& key, const QString& secret, QObject* context,
               TAnswerHandler handler) override;
    void Remove(const QString& key, QObject* context, TAnswerHandler handler) override;
};
