#pragma once

#include "nntp/TIpCustomNntpClient.h"

// The NNTP client component the application owns: the behaviour of TIpCustomNntpClient with its
// properties and events made public. Events are std::function members, so a window connects a
// lambda or a bound member function:
//
//   client.OnResponse = [this](TIpCustomNntpClient*, TIpNntpStates to, int32_t code,
//                              const std::string& text) { ShowReply(to, code, text); };
//
// OnSocketError (a refused or failed connection, a reset) is the socket control's event; the
// client publishes it so the application can show the failure. The client's own course does not
// change on it: no greeting arrives and the state stays nsConnect. The client also raises it
// itself, with a code of TIpNntpErrorCode, when it ends an operation (no STARTTLS, encryption
// required, a refused log-on); a refused certificate comes with TIpTlsCode::CertificateRefused
// after OnTls has told the certificate.
class TIpNntpClient : public TIpCustomNntpClient {
public:
    using TIpCustomNntpClient::Article;
    using TIpCustomNntpClient::OnCodingProgress;
    using TIpCustomNntpClient::OnListLine;
    using TIpCustomNntpClient::OnMultiLineResponse;
    using TIpCustomNntpClient::OnResponse;
    using TIpCustomNntpClient::OnStateChange;
    using TIpCustomNntpClient::OnTaskComplete;
    using TIpCustomNntpClient::Password;
    using TIpCustomNntpClient::SetOnCodingProgress;
    using TIpCustomNntpClient::UserID;
    using TIpSockControl::OnSocketError;
    using TIpSockControl::OnTls;
};
