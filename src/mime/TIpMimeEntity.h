#pragma once

#include "mime/TIpAnsiTextStream.h"
#include "mime/TIpMimeEncodingMethod.h"
#include "mime/TIpMimeParts.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TIpMimeEntity;
class TIpStream;

// Told the coding progress in percent; setting abort stops the coding after its current step.
using TIpCodingProgressEvent =
    std::function<void(TIpMimeEntity& sender, uint8_t progress, bool& abort)>;

// One row of the table that types an attached file by its extension.
struct TIpMimeExtension {
    const char* Extension;
    const char* Type;
    const char* Subtype;
    TIpMimeEncodingMethod Encoding;
};

// One node of a MIME tree: its MIME header fields, a body held as already encoded CR LF lines,
// and the owned children. The message is the root; a child copies its parent's boundary when it
// is created, so a later change of the parent's boundary does not reach existing children.
class TIpMimeEntity {
public:
    // Matched exactly (case-sensitive, dot included); the first match wins.
    static const std::array<TIpMimeExtension, 14> ExtensionTable;

    // Does not add itself to the parent's Parts; the caller does.
    explicit TIpMimeEntity(TIpMimeEntity* parent = nullptr);
    TIpMimeEntity(const TIpMimeEntity&) = delete;
    TIpMimeEntity& operator=(const TIpMimeEntity&) = delete;
    // Destroys the children and removes itself from its parent's Parts.
    virtual ~TIpMimeEntity();

    // Copies another object into this one; the plain entity refuses every source.
    virtual void Assign(const TIpMimeEntity& source);
    // Empties the body, the children and the MIME fields; the encoding becomes emUnknown.
    virtual void Clear();
    virtual const char* ClassName() const { return "TIpMimeEntity"; }

    void ClearBody();
    // Makes this entity multipart (with a boundary made once) and appends a new child.
    TIpMimeEntity* AddChild();
    // A direct child by content ID, or by type and subtype when no ID is given; created when
    // canCreate and none matches. The body of the entity returned is positioned at 0.
    TIpMimeEntity* FindChild(const std::string& type, const std::string& subtype, bool canCreate,
                             const std::string& contentID = {});
    // Depth first, in child order; never creates.
    TIpMimeEntity* FindDescendant(const std::string& type, const std::string& subtype,
                                  const std::string& contentID = {});

    // The longest line an article may hold, line end not counted.
    static constexpr int64_t MaxLineOctets = 998;

    // Encode content into Body by ContentTransferEncoding. Content that would be copied line
    // by line (7bit, 8bit or no encoding set) is sent base64 instead when it is not clean text
    // (a NUL, a CR without LF, another control character but TAB), and quoted-printable when
    // one of its lines is longer than MaxLineOctets.
    void LoadFromStream(TIpStream& stream, const std::string& fileName);
    // Makes this entity a text/plain part holding lines of UTF-8 text (without line ends):
    // ASCII goes as 7bit, other text as 8bit with charset utf-8 (quoted-printable when a line is
    // too long for an article or holds a control character other than TAB).
    void LoadText(const std::vector<std::string>& lines);
    void LoadFromStrings(const std::vector<std::string>& lines, const std::string& fileName);
    // Types the file by its extension when no type is set yet; raises when it cannot be opened.
    void LoadFromFile(const std::string& path);

    // Writes this entity and its subtree; boundary receives ParentBoundary.
    void WriteEntity(TIpAnsiTextStream& target, std::string& boundary);
    // Appends this entity's MIME header lines (none without a ContentType).
    void BuildMimeHeaders(std::vector<std::string>& headers) const;

    // Parts nested deeper than this many levels below the root are read as body text of the
    // deepest part. Reading, writing and freeing a tree recurse once per level, so the bound keeps
    // a hostile text from exhausting the stack.
    static constexpr int MaxNesting = 100;

    // The reading side. Bodies stay encoded as received.
    void ParseMimeHeaders(const std::vector<std::string>& headers);
    void ParseEntity(TIpAnsiTextStream& source, std::string& line);
    // Levels above this entity: 0 for the root.
    int Depth() const;
    // The fields a part read as an attachment copies from the message.
    void CopyAttachmentFields(const TIpMimeEntity& from);

    // Coding progress from the encoders; handled by the root, at most once per ten percent.
    void ReportProgress(int64_t position, int64_t total, bool& abort);

    void EncodeLines(TIpStream& source);
    void EncodeBase64(TIpStream& source);
    void EncodeQuoted(TIpStream& source);
    void EncodeUU(TIpStream& source, const std::string& fileName);
    void EncodeBinHex(TIpStream& source, const std::string& fileName);

    // "_NextPart_" and four hexadecimal clock readings; 41 characters.
    static std::string NewBoundary();
    // Replaces NewBoundary when set (tests use it to get a fixed boundary).
    static std::function<std::string()> BoundaryGenerator;

    // The bytes of all bodies in this subtree, with room for their headers.
    int64_t TreeSize();

    TIpMimeEntity* Parent() const { return FParent; }
    uint8_t Progress() const { return FProgress; }

    TIpMimeParts Parts;
    std::string ParentBoundary;
    TIpAnsiTextStream Body;
    std::string ContentName;
    std::string Boundary;
    std::string CharSet;
    std::string ContentDescription;
    std::string DispositionType;
    std::string ContentID;
    std::string ContentSubtype;
    std::string ContentType;
    std::string CreationDate;
    TIpMimeEncodingMethod ContentTransferEncoding = TIpMimeEncodingMethod::em7Bit;
    std::string FileName;
    bool IsMime = false;
    bool IsMultipart = false;
    std::string ModificationDate;
    std::string MimeVersion;
    TIpCodingProgressEvent OnCodingProgress;
    int64_t FileSize = 0;
    std::string ReadDate;
    std::string RelatedType;
    std::string RelatedSubtype;
    std::string RelatedStart;
    std::string RelatedStartInfo;

private:
    void ReserveBody(int64_t size);

    uint8_t FProgress = 0;
    uint8_t FLastReported = 0;
    TIpMimeEntity* FParent = nullptr;
};
