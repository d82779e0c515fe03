#pragma once

#include "mime/TIpMimeEntity.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A message: header fields, the MIME tree (the message is its root) and the message stream that
// holds the message as CR LF lines exactly as they go over the wire. ComposeText writes that
// text afresh from the fields; ParseText reads fields and tree back from it.
class TIpMessage : public TIpMimeEntity {
public:
    TIpMessage();
    ~TIpMessage() override;

    // From another message: its text is copied and parsed. Anything else is refused.
    void Assign(const TIpMimeEntity& source) override;
    // Also empties every header field and detaches the message stream.
    void Clear() override;
    const char* ClassName() const override { return "TIpMessage"; }

    virtual void ParseText();
    virtual void ComposeText();

    // Clear, then a fresh empty message stream.
    void NewMessage();
    // The text/plain part (inside a multipart/alternative entity when there is one); created as
    // a new child when canCreate and there is none.
    TIpMimeEntity* PlainTextPart(bool canCreate);

    // The message stream as the sender reads it. Without an attached stream the position and
    // size are 0, reads give empty text, writes do nothing and the stream is at its end.
    int64_t Position();
    void SetPosition(int64_t position);
    int64_t Size();
    std::string ReadLine();
    // The next line with CR LF appended.
    std::string ReadLineCRLF();
    void ReadLineCRLF(std::string& line);
    void WriteLine(std::string_view text);
    bool AtEndOfStream() const;

    TIpAnsiTextStream MessageStream;
    std::vector<std::string> BCC;
    std::vector<std::string> CC;
    std::string Date;
    std::string From;
    std::string InReplyTo;
    std::string Keywords;
    std::string MessageID;
    std::vector<std::string> Newsgroups;
    std::string NNTPPostingHost; // read from a parsed text only; never written
    std::string Organization;
    std::vector<std::string> Path;
    std::string PostingHost; // read from a parsed text only; never written
    std::vector<std::string> Received;
    std::vector<std::string> To;
    std::vector<std::string> References;
    std::string ReplyTo;
    std::string ReturnPath;
    std::string Sender;
    // Subject and Organization are the text as typed (UTF-8); ComposeText encodes what is not
    // ASCII. From is a mailbox as it goes into the header (see TIpHeaderEncoding::Mailbox).
    std::string Subject;
    // Whole extra header lines, conventionally beginning "X-".
    std::vector<std::string> UserFields;

private:
    void BuildHeaders(std::vector<std::string>& headers) const;
    void ParseHeaders(const std::vector<std::string>& headers);
};
