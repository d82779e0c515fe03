#include "net/TIpWindowMessage.h"

#include <utility>

TIpWindowMessage::TIpWindowMessage(uint32_t msg, intptr_t wParam, intptr_t lParam, std::string text)
    : QEvent(EventType()), Msg(msg), WParam(wParam), LParam(lParam), Text(std::move(text)) {}

QEvent::Type TIpWindowMessage::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}
