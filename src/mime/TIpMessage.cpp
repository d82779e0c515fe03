#include "mime/TIpMessage.h"

#include "mime/EIpBaseException.h"
#include "mime/TIpMimeHeaders.h"
#include "mime/TIpPieceStream.h"

#include <memory>

using TStrings = std::vector<std::string>;

namespace {
// The non-empty pieces of text between delimiters, trimmed.
void SplitList(const std::string& text, const char* delimiters, TStrings& items) {
    items.clear();
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(delimiters, start);
        if (end == std::string::npos)
            end = text.size();
        std::string piece = TIpMimeHeaders::Trim(std::string_view(text).substr(start, end - start));
        if (!piece.empty())
            items.push_back(std::move(piece));
        start = end + 1;
    }
}

bool IsContinuation(const std::string& line) {
    return line.empty() || line.front() == ' ' || line.front() == '\t';
}

// Every header line beginning with prefix, its rest with its continuation lines appended.
void CollectRepeated(const TStrings& headers, const std::string& prefix, TStrings& items) {
    items.clear();
    for (size_t i = 0; i < headers.size(); ++i) {
        if (!TIpMimeHeaders::StartsText(headers[i], prefix))
            continue;
        std::string item = headers[i].substr(prefix.size());
        for (size_t j = i + 1; j < headers.size() && IsContinuation(headers[j]); ++j)
            item += headers[j];
        items.push_back(std::move(item));
    }
}
} // namespace

TIpMessage::TIpMessage() {
    MessageStream.AssignStream(std::make_unique<TIpMemoryStream>());
}

TIpMessage::~TIpMessage() {
    TIpMessage::Clear();
}

void TIpMessage::Clear() {
    TIpMimeEntity::Clear();
    BCC.clear();
    CC.clear();
    Newsgroups.clear();
    Path.clear();
    Received.clear();
    To.clear();
    References.clear();
    UserFields.clear();
    Date.clear();
    From.clear();
    InReplyTo.clear();
    Keywords.clear();
    MessageID.clear();
    NNTPPostingHost.clear();
    Organization.clear();
    PostingHost.clear();
    ReplyTo.clear();
    ReturnPath.clear();
    Sender.clear();
    Subject.clear();
    MessageStream.FreeStream();
}

void TIpMessage::NewMessage() {
    Clear();
    MessageStream.AssignStream(std::make_unique<TIpMemoryStream>());
}

void TIpMessage::Assign(const TIpMimeEntity& source) {
    const auto* message = dynamic_cast<const TIpMessage*>(&source);
    if (!message) {
        TIpMimeEntity::Assign(source);
        return;
    }
    if (message == this)
        return;
    NewMessage();
    // Reading moves the source's cursor; it is put back afterwards.
    TIpAnsiTextStream& from = const_cast<TIpMessage*>(message)->MessageStream;
    const int64_t saved = from.Position();
    from.SetPosition(0);
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        const int64_t n = from.Read(chunk.data(), static_cast<int64_t>(chunk.size()));
        if (n <= 0)
            break;
        MessageStream.Write(chunk.data(), n);
    }
    from.SetPosition(saved);
    ParseText();
    MessageStream.SetPosition(0);
}

TIpMimeEntity* TIpMessage::PlainTextPart(bool canCreate) {
    TIpMimeEntity* alternative = FindDescendant("multipart", "alternative");
    TIpMimeEntity* holder = alternative ? alternative : this;
    TIpMimeEntity* part = holder->FindChild("text", "plain", false);
    if (!part && canCreate) {
        part = holder->AddChild();
        part->ContentType = "text";
        part->ContentSubtype = "plain";
        part->ContentTransferEncoding = TIpMimeEncodingMethod::em7Bit;
    }
    if (part)
        part->Body.SetPosition(0);
    return part;
}

void TIpMessage::BuildHeaders(TStrings& headers) const {
    TIpMimeHeaders::AddHeader(headers, "Return-Path: ", ReturnPath);
    TIpMimeHeaders::AddRepeatedHeader(headers, "Received: ", Received, true, '\t');
    TIpMimeHeaders::AddListHeader(headers, "Path: ", Path, true, ",");
    TIpMimeHeaders::AddListHeader(headers, "Newsgroups: ", Newsgroups, true, ",");
    TIpMimeHeaders::AddHeader(headers, "Message-ID: ", MessageID);
    // From may carry a display name; a long one is folded between its words.
    TIpMimeHeaders::AddFoldedHeader(headers, "From: ", From, TIpMimeHeaders::ReadableLineLength);
    TIpMimeHeaders::AddHeader(headers, "Reply-To: ", ReplyTo);
    TIpMimeHeaders::AddHeader(headers, "Date: ", Date);
    TIpMimeHeaders::AddListHeader(headers, "To: ", To, true, ",");
    TIpMimeHeaders::AddTextHeader(headers, "Subject: ", Subject);
    TIpMimeHeaders::AddTextHeader(headers, "Organization: ", Organization);
    TIpMimeHeaders::AddListHeader(headers, "CC: ", CC, false, ",");
    TIpMimeHeaders::AddListHeader(headers, "BCC: ", BCC, false, ",");
    TIpMimeHeaders::AddHeader(headers, "In-Reply-To: ", InReplyTo);
    TIpMimeHeaders::AddListHeader(headers, "References: ", References, false, "");
    TIpMimeHeaders::AddHeader(headers, "Sender: ", Sender);
    TIpMimeHeaders::AddHeader(headers, "Keywords: ", Keywords);
    TIpMimeHeaders::AddRepeatedHeader(headers, "", UserFields, false, '\0');
    if (IsMime)
        BuildMimeHeaders(headers);
}

void TIpMessage::ComposeText() {
    MessageStream.FreeStream();
    // The text is pieced together: the encoded bodies are shared with the entities, not copied.
    MessageStream.AssignStream(std::make_unique<TIpPieceStream>());
    if (!ContentType.empty()) {
        IsMime = true;
        MimeVersion = "1.0";
    }
    TStrings headers;
    BuildHeaders(headers);
    if (headers.empty())
        return;
    for (const std::string& header : headers)
        MessageStream.WriteLine(header);
    MessageStream.WriteLine(std::string_view());
    if (IsMime) {
        std::string boundary;
        WriteEntity(MessageStream, boundary);
    } else if (Body.Size() > 0) {
        Body.SetPosition(0);
        MessageStream.CopyLinesFrom(Body);
    }
    MessageStream.WriteLine(".");
}

void TIpMessage::ParseHeaders(const TStrings& headers) {
    const auto value = [&headers](const char* name) {
        return TIpMimeHeaders::HeaderValue(name, headers);
    };
    Date = value("Date: ");
    From = value("From: ");
    InReplyTo = value("In-Reply-To: ");
    Keywords = value("Keywords: ");
    MessageID = value("Message-ID: ");
    NNTPPostingHost = value("NNTP-Posting-Host: ");
    Organization = value("Organization: ");
    PostingHost = value("Posting-Host: ");
    ReplyTo = value("Reply-To: ");
    ReturnPath = value("Return-Path: ");
    Sender = value("Sender: ");
    Subject = value("Subject: ");
    // List headers are read back as they are written: Path and Newsgroups divided by commas,
    // References by blanks, across their continuation lines.
    SplitList(value("Newsgroups: "), ",", Newsgroups);
    SplitList(value("Path: "), ",", Path);
    SplitList(value("References: "), " \t", References);
    SplitList(value("BCC: "), ",", BCC);
    SplitList(value("CC: "), ",", CC);
    SplitList(value("To: "), ",", To);
    CollectRepeated(headers, "X-", UserFields);
    CollectRepeated(headers, "Received: ", Received);
}

void TIpMessage::ParseText() {
    MessageStream.SetPosition(0);
    TStrings headers;
    std::string line;
    MessageStream.ReadLine(line);
    headers.push_back(line);
    while (!MessageStream.AtEndOfStream()) {
        MessageStream.ReadLine(line);
        if (line.empty())
            break;
        headers.push_back(line);
    }
    ParseHeaders(headers);
    ParseMimeHeaders(headers);

    if (IsMime) {
        if (DispositionType == "attachment") {
            auto child = std::make_unique<TIpMimeEntity>(this);
            child->CopyAttachmentFields(*this);
            child->ParseEntity(MessageStream, line);
            Parts.Add(child.release());
        } else {
            ParseEntity(MessageStream, line);
        }
    } else {
        bool haveLine = false;
        while (!haveLine && !MessageStream.AtEndOfStream()) {
            MessageStream.ReadLine(line);
            haveLine = !line.empty();
        }
        while (haveLine && line != ".") {
            Body.WriteLine(line);
            if (MessageStream.AtEndOfStream())
                break;
            MessageStream.ReadLine(line);
        }
    }
    Body.SetPosition(0);
}

int64_t TIpMessage::Position() {
    return MessageStream.Position();
}

void TIpMessage::SetPosition(int64_t position) {
    MessageStream.SetPosition(position);
}

int64_t TIpMessage::Size() {
    return MessageStream.Size();
}

std::string TIpMessage::ReadLine() {
    return MessageStream.ReadLine();
}

std::string TIpMessage::ReadLineCRLF() {
    std::string line;
    ReadLineCRLF(line);
    return line;
}

void TIpMessage::ReadLineCRLF(std::string& line) {
    MessageStream.ReadLine(line);
    line += "\r\n";
}

void TIpMessage::WriteLine(std::string_view text) {
    MessageStream.WriteLine(text);
}

bool TIpMessage::AtEndOfStream() const {
    return MessageStream.AtEndOfStream();
}
