#pragma once

#include <stdexcept>
#include <string>

// The root of every failure raised by the stream, MIME, socket and client code. Each carries the
// message text the user sees; descendants add what their callers need (an error code, say).
class EIpBaseException : public std::runtime_error {
public:
    explicit EIpBaseException(const std::string& message) : std::runtime_error(message) {}
};
