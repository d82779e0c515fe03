#pragma once

#include <exception>
#include <functional>

// Exceptions raised while the event loop handles a notification never cross the loop: they are
// handed to one application-wide reporter. The default writes the message to stderr; the
// application installs one that shows a message box. An empty function restores the default.
void SetIpExceptionReporter(std::function<void(const std::exception&)> reporter);
void ReportIpException(const std::exception& error);
