#include "mime/TIpMimeEntity.h"

#include "mime/EIpBaseException.h"
#include "mime/TIpFileStream.h"
#include "mime/TIpHeaderEncoding.h"
#include "mime/TIpMimeClock.h"
#include "mime/TIpMimeEncoder.h"
#include "mime/TIpMimeHeaders.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

using TStrings = std::vector<std::string>;

const std::array<TIpMimeExtension, 14> TIpMimeEntity::ExtensionTable = {{
    {".bin", "application", "octet-stream", TIpMimeEncodingMethod::emBase64},
    {".txt", "text", "plain", TIpMimeEncodingMethod::em8Bit},
    {".rtf", "application", "msword", TIpMimeEncodingMethod::em8Bit},
    {".doc", "application", "msword", TIpMimeEncodingMethod::emBase64},
    {".ps", "application", "postscript", TIpMimeEncodingMethod::em8Bit},
    {".tif", "image", "tif", TIpMimeEncodingMethod::emBase64},
    {".gif", "image", "gif", TIpMimeEncodingMethod::emBase64},
    {".jpg", "image", "jpeg", TIpMimeEncodingMethod::emBase64},
    {".bmp", "image", "bmp", TIpMimeEncodingMethod::emBase64},
    {".mov", "video", "quicktime", TIpMimeEncodingMethod::emBase64},
    {".avi", "video", "avi", TIpMimeEncodingMethod::emBase64},
    {".wav", "video", "wave", TIpMimeEncodingMethod::emBase64},
    {".aif", "audio", "aif", TIpMimeEncodingMethod::emBase64},
    {".zip", "application", "x-zip-compressed", TIpMimeEncodingMethod::emBase64},
}};

std::function<std::string()> TIpMimeEntity::BoundaryGenerator;

namespace {
std::string WithoutDirectory(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

std::string Quoted(const std::string& text) {
    return TIpHeaderEncoding::QuotedString(text);
}

// The name= parameter of a content type: a quoted string; a name outside printable ASCII as
// encoded-words inside the quotes, which is what readers without extended parameters decode.
std::string NameParameter(const std::string& name) {
    if (!TIpHeaderEncoding::NeedsEncoding(name))
        return "name=" + Quoted(name);
    return "name=" + Quoted(TIpHeaderEncoding::EncodedWords(name));
}

// The filename= parameter of a disposition: a quoted string, or for a name outside printable
// ASCII the extended parameter filename*=, which carries the bytes exactly.
std::string FileNameParameter(const std::string& name) {
    if (TIpHeaderEncoding::IsPrintableAscii(name))
        return "filename=" + Quoted(name);
    return "filename*=" + TIpHeaderEncoding::ExtendedValue(name);
}

// What copying a stream line by line into an article would meet: its longest line (line ends
// not counted), and whether it is clean text, whose only control characters are TAB and line
// ends (LF, or CR LF). RFC 5322 and RFC 3977 allow no NUL and no CR outside CR LF in an article,
// and other control bytes mark a file that is not text.
struct TTextShape {
    int64_t LongestLine = 0;
    bool Clean = true;
};

// Scans the stream from its start and leaves it there; stops at the first byte that is not
// clean text.
TTextShape ShapeOf(TIpStream& stream) {
    stream.Seek(0, TIpStream::soFromBeginning);
    std::vector<char> chunk(64 * 1024);
    TTextShape shape;
    int64_t current = 0;
    bool afterCR = false;
    for (;;) {
        const int64_t n = stream.Read(chunk.data(), static_cast<int64_t>(chunk.size()));
        if (n <= 0)
            break;
        for (int64_t i = 0; i < n && shape.Clean; ++i) {
            const auto c = static_cast<unsigned char>(chunk[static_cast<size_t>(i)]);
            if (afterCR && c != '\n') {
                shape.Clean = false;
            } else if (c == '\n') {
                shape.LongestLine = std::max(shape.LongestLine, current);
                current = 0;
            } else if (c == '\r') {
                afterCR = true;
                continue;
            } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
                shape.Clean = false;
            } else {
                ++current;
            }
            afterCR = false;
        }
        if (!shape.Clean)
            break;
    }
    shape.Clean = shape.Clean && !afterCR;
    shape.LongestLine = std::max(shape.LongestLine, current);
    stream.Seek(0, TIpStream::soFromBeginning);
    return shape;
}

bool IsAscii(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        for (const char c : line)
            if (static_cast<unsigned char>(c) >= 0x80)
                return false;
    return true;
}

// A control character other than TAB: typed text holding one cannot go out as it is.
bool HoldsControl(const std::vector<std::string>& lines) {
    for (const std::string& line : lines)
        for (const char c : line)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
                return true;
    return false;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

void ReadSkippingEmpty(TIpAnsiTextStream& source, std::string& line) {
    source.ReadLine(line);
    while (line.empty() && !source.AtEndOfStream())
        source.ReadLine(line);
}
} // namespace

TIpMimeEntity::TIpMimeEntity(TIpMimeEntity* parent) : FParent(parent) {
    Body.AssignStream(std::make_unique<TIpMemoryStream>());
    if (parent)
        ParentBoundary = parent->Boundary;
}

TIpMimeEntity::~TIpMimeEntity() {
    Parts.Clear();
    if (FParent)
        FParent->Parts.Remove(this);
}

void TIpMimeEntity::Assign(const TIpMimeEntity& source) {
    throw EIpBaseException(std::string("Cannot assign a ") + source.ClassName() + " to a " +
                           ClassName());
}

void TIpMimeEntity::ClearBody() {
    Body.FreeStream();
    Body.AssignStream(std::make_unique<TIpMemoryStream>());
}

void TIpMimeEntity::Clear() {
    ClearBody();
    Parts.Clear();
    Boundary.clear();
    CharSet.clear();
    ContentDescription.clear();
    DispositionType.clear();
    ContentID.clear();
    ContentSubtype.clear();
    ContentType.clear();
    FileName.clear();
    MimeVersion.clear();
    ContentName.clear();
    RelatedType.clear();
    RelatedSubtype.clear();
    RelatedStart.clear();
    RelatedStartInfo.clear();
    // The disposition parameters go too, so a reused entity never reports a previous file.
    CreationDate.clear();
    ModificationDate.clear();
    ReadDate.clear();
    FileSize = 0;
    ContentTransferEncoding = TIpMimeEncodingMethod::emUnknown;
    IsMime = false;
    IsMultipart = false;
}

std::string TIpMimeEntity::NewBoundary() {
    if (BoundaryGenerator)
        return BoundaryGenerator();
    const double now = TIpMimeClock::Now();
    const double days = std::floor(now);
    const auto dayPart = static_cast<uint32_t>(static_cast<int64_t>(days));
    const auto fraction = static_cast<uint32_t>((now - days) * 10000);
    const uint32_t ticks = TIpMimeClock::TickCount();
    const uint32_t random = TIpMimeClock::Random() % 65535;
    char text[48];
    std::snprintf(text, sizeof text, "_NextPart_%08X-%08X-%08X-%04X", dayPart, fraction, ticks,
                  random);
    return text;
}

TIpMimeEntity* TIpMimeEntity::AddChild() {
    IsMime = true;
    IsMultipart = true;
    ContentType = "multipart";
    // A bare "multipart" is not a MIME type: readers would show the parts as one text and never
    // find the attachment. Without a subtype of its own the entity is a plain mixture of parts.
    if (ContentSubtype.empty())
        ContentSubtype = "mixed";
    if (Boundary.empty())
        Boundary = NewBoundary();
    auto* child = new TIpMimeEntity(this);
    Parts.Add(child);
    return child;
}

TIpMimeEntity* TIpMimeEntity::FindChild(const std::string& type, const std::string& subtype,
                                        bool canCreate, const std::string& contentID) {
    for (int i = 0; i < Parts.Count(); ++i) {
        TIpMimeEntity* child = Parts.Items(i);
        const bool match = contentID.empty()
                               ? child->ContentType == type && child->ContentSubtype == subtype
                               : child->ContentID == contentID;
        if (match) {
            child->Body.SetPosition(0);
            return child;
        }
    }
    if (!canCreate)
        return nullptr;
    TIpMimeEntity* child = AddChild();
    child->ContentType = type;
    child->ContentSubtype = subtype;
    child->ContentID = contentID;
    return child;
}

TIpMimeEntity* TIpMimeEntity::FindDescendant(const std::string& type, const std::string& subtype,
                                             const std::string& contentID) {
    for (int i = 0; i < Parts.Count(); ++i) {
        TIpMimeEntity* child = Parts.Items(i);
        const bool match = (!contentID.empty() && child->ContentID == contentID) ||
                           (child->ContentType == type && child->ContentSubtype == subtype);
        if (match) {
            child->Body.SetPosition(0);
            return child;
        }
        if (TIpMimeEntity* found = child->FindDescendant(type, subtype, contentID))
            return found;
    }
    return nullptr;
}

void TIpMimeEntity::ReportProgress(int64_t position, int64_t total, bool& abort) {
    if (FParent) {
        FParent->ReportProgress(position, total, abort);
        return;
    }
    const int64_t percent = total > 0 ? std::clamp<int64_t>(position * 100 / total, 0, 100) : 100;
    FProgress = static_cast<uint8_t>(percent);
    if (FProgress / 10 == 0)
        FLastReported = 0;
    if (FProgress / 10 > FLastReported / 10) {
        FLastReported = FProgress;
        if (OnCodingProgress)
            OnCodingProgress(*this, FProgress, abort);
    }
}

namespace {
TIpMimeEncoder EncoderFor(TIpMimeEntity& entity) {
    return TIpMimeEncoder(entity.Body, [&entity](int64_t position, int64_t size, bool& abort) {
        entity.ReportProgress(position, size, abort);
    });
}
} // namespace

void TIpMimeEntity::EncodeLines(TIpStream& source) {
    EncoderFor(*this).EncodeLines(source);
}
void TIpMimeEntity::EncodeBase64(TIpStream& source) {
    EncoderFor(*this).EncodeBase64(source);
}
void TIpMimeEntity::EncodeQuoted(TIpStream& source) {
    EncoderFor(*this).EncodeQuoted(source);
}
void TIpMimeEntity::EncodeUU(TIpStream& source, const std::string& fileName) {
    EncoderFor(*this).EncodeUU(source, fileName);
}
void TIpMimeEntity::EncodeBinHex(TIpStream& source, const std::string& fileName) {
    EncoderFor(*this).EncodeBinHex(source, fileName);
}

// Room for the encoded form of size source bytes, so a large attachment's body is allocated once
// instead of being copied as it grows.
void TIpMimeEntity::ReserveBody(int64_t size) {
    auto* memory = dynamic_cast<TIpMemoryStream*>(Body.Stream());
    if (!memory)
        return;
    int64_t estimate = size + size / 32;
    switch (ContentTransferEncoding) {
    case TIpMimeEncodingMethod::emBase64:
    case TIpMimeEncodingMethod::emBinHex: {
        const int64_t characters = (size + 2) / 3 * 4 + 2;
        estimate = characters + (characters / 76 + 1) * 2 + 64;
        break;
    }
    case TIpMimeEncodingMethod::emUUEncode:
        estimate = (size + 44) / 45 * 63 + 64;
        break;
    case TIpMimeEncodingMethod::emQuoted:
        estimate = size * 3 / 2;
        break;
    case TIpMimeEncodingMethod::em7Bit:
    case TIpMimeEncodingMethod::em8Bit:
    case TIpMimeEncodingMethod::emBinary:
    case TIpMimeEncodingMethod::emUnknown:
        break;
    }
    memory->Reserve(estimate);
}

int64_t TIpMimeEntity::TreeSize() {
    int64_t total = Body.Size() + 1024;
    for (int i = 0; i < Parts.Count(); ++i)
        total += Parts.Items(i)->TreeSize();
    return total;
}

void TIpMimeEntity::LoadFromStream(TIpStream& stream, const std::string& fileName) {
    const int64_t size = stream.Size();
    const std::string name = WithoutDirectory(fileName);
    if (size > 0) {
        // Lines copied as they are must fit an article line; a longer one would be refused or
        // re-wrapped on its way. Quoted-printable breaks it softly, and readers rebuild it.
        const bool copiesLines = ContentTransferEncoding == TIpMimeEncodingMethod::em7Bit ||
                                 ContentTransferEncoding == TIpMimeEncodingMethod::em8Bit ||
                                 ContentTransferEncoding == TIpMimeEncodingMethod::emUnknown;
        // Bytes that are not clean text cannot be copied at all: the file goes as any other.
        if (copiesLines) {
            const TTextShape shape = ShapeOf(stream);
            if (!shape.Clean)
                ContentTransferEncoding = TIpMimeEncodingMethod::emBase64;
            else if (shape.LongestLine > MaxLineOctets)
                ContentTransferEncoding = TIpMimeEncodingMethod::emQuoted;
        }
        ClearBody();
        ReserveBody(size);
        switch (ContentTransferEncoding) {
        case TIpMimeEncodingMethod::em7Bit:
        case TIpMimeEncodingMethod::em8Bit:
        case TIpMimeEncodingMethod::emBinary:
        case TIpMimeEncodingMethod::emUnknown:
            EncodeLines(stream);
            break;
        case TIpMimeEncodingMethod::emBase64:
            EncodeBase64(stream);
            break;
        case TIpMimeEncodingMethod::emQuoted:
            EncodeQuoted(stream);
            break;
        case TIpMimeEncodingMethod::emUUEncode:
            EncodeUU(stream, name);
            break;
        case TIpMimeEncodingMethod::emBinHex:
            EncodeBinHex(stream, name);
            break;
        }
    }
    FileSize = size;
    FileName = name;
}

void TIpMimeEntity::LoadText(const std::vector<std::string>& lines) {
    ContentType = "text";
    ContentSubtype = "plain";
    IsMime = true;
    const bool ascii = IsAscii(lines);
    CharSet = ascii ? std::string() : std::string("utf-8");
    ContentTransferEncoding = ascii ? TIpMimeEncodingMethod::em7Bit : TIpMimeEncodingMethod::em8Bit;
    // Quoted-printable keeps such text readable where a file would go base64.
    if (HoldsControl(lines))
        ContentTransferEncoding = TIpMimeEncodingMethod::emQuoted;
    ClearBody();
    LoadFromStrings(lines, std::string());
}

void TIpMimeEntity::LoadFromStrings(const std::vector<std::string>& lines,
                                    const std::string& fileName) {
    if (lines.empty())
        return;
    TIpMemoryStream memory;
    {
        TIpAnsiTextStream text(&memory);
        for (const std::string& line : lines)
            text.WriteLine(line);
    }
    FileSize = memory.Size();
    FileName = WithoutDirectory(fileName);
    LoadFromStream(memory, fileName);
}

void TIpMimeEntity::LoadFromFile(const std::string& path) {
    const std::string name = WithoutDirectory(path);
    const size_t dot = name.find_last_of('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    TIpMimeExtension row{"", "application", "octet-stream", TIpMimeEncodingMethod::emBase64};
    for (const TIpMimeExtension& candidate : ExtensionTable) {
        if (extension == candidate.Extension) {
            row = candidate;
            break;
        }
    }
    if (ContentType.empty()) {
        ContentType = row.Type;
        ContentSubtype = row.Subtype;
        ContentTransferEncoding = row.Encoding;
    }
    if (ContentTransferEncoding == TIpMimeEncodingMethod::emUnknown)
        ContentTransferEncoding = row.Encoding;
    TIpFileStream file(path);
    FileSize = file.Size();
    FileName = name;
    LoadFromStream(file, FileName);
}

void TIpMimeEntity::BuildMimeHeaders(std::vector<std::string>& headers) const {
    if (ContentType.empty())
        return;
    TIpMimeHeaders::AddHeader(headers, "MIME-Version: ", MimeVersion);

    TStrings items;
    items.push_back(ContentSubtype.empty() ? ContentType : ContentType + "/" + ContentSubtype);
    if (IsMultipart)
        items.push_back("boundary=" + Quoted(Boundary));
    if (!ContentName.empty())
        items.push_back(NameParameter(ContentName));
    if (!CharSet.empty())
        items.push_back("charset=" + CharSet);
    if (!RelatedType.empty()) {
        items.push_back("type=" + Quoted(RelatedSubtype.empty()
                                             ? RelatedType
                                             : RelatedType + "/" + RelatedSubtype));
        if (!RelatedStart.empty())
            items.push_back("start=" + Quoted(RelatedStart));
        if (!RelatedStartInfo.empty())
            items.push_back("start-info=" + Quoted(RelatedStartInfo));
    }
    TIpMimeHeaders::AddListHeader(headers, "Content-Type: ", items, false, ";");

    TIpMimeHeaders::AddHeader(headers, "Content-Description: ", ContentDescription);
    TIpMimeHeaders::AddHeader(headers, "Content-ID: ", ContentID);
    TIpMimeHeaders::AddHeader(headers,
                              "Content-Transfer-Encoding: ", EncodingName(ContentTransferEncoding));

    if (DispositionType.empty())
        return;
    items.assign(1, DispositionType);
    if (!FileName.empty())
        items.push_back(FileNameParameter(FileName));
    if (!CreationDate.empty())
        items.push_back("creation-date=" + CreationDate);
    if (!ModificationDate.empty())
        items.push_back("modification-date=" + ModificationDate);
    if (!ReadDate.empty())
        items.push_back("read-date=" + ReadDate);
    if (FileSize > 0)
        items.push_back("size=" + std::to_string(FileSize));
    TIpMimeHeaders::AddListHeader(headers, "Content-Disposition: ", items, false, ";");
}

void TIpMimeEntity::WriteEntity(TIpAnsiTextStream& target, std::string& boundary) {
    boundary = ParentBoundary;
    if (!ParentBoundary.empty()) {
        target.WriteLine("--" + ParentBoundary);
        TStrings headers;
        BuildMimeHeaders(headers);
        for (const std::string& header : headers) {
            if (!header.empty())
                target.WriteLine(header);
        }
        target.WriteLine(std::string_view());
    }
    if (Body.Size() > 0) {
        Body.SetPosition(0);
        target.CopyLinesFrom(Body);
        // The lines written so far must end in a line break before a boundary follows.
        const int64_t end = target.Position();
        char last = '\n';
        if (end > 0) {
            target.SetPosition(end - 1);
            target.ReadChar(last);
            target.SetPosition(end);
        }
        if (last != '\r' && last != '\n')
            target.WriteLine(std::string_view());
    }
    if (Parts.Count() > 0) {
        std::string childBoundary;
        for (int i = 0; i < Parts.Count(); ++i)
            Parts.Items(i)->WriteEntity(target, childBoundary);
        target.WriteLine("--" + childBoundary + "--");
    }
}

void TIpMimeEntity::ParseMimeHeaders(const std::vector<std::string>& headers) {
    const std::string contentType = TIpMimeHeaders::HeaderValue("Content-Type: ", headers);
    if (contentType.empty()) {
        IsMime = false;
        return;
    }
    IsMime = true;
    TStrings items;
    TIpMimeHeaders::SplitValue(contentType, ';', items);
    const std::string first = items.empty() ? std::string() : items.front();
    const size_t slash = first.find('/');
    ContentType = first.substr(0, slash);
    ContentSubtype = slash == std::string::npos ? std::string() : first.substr(slash + 1);
    IsMultipart = TIpMimeHeaders::SameText(ContentType, "multipart");
    ContentName = TIpMimeHeaders::ParamValue("name=", items);
    Boundary = TIpMimeHeaders::ParamValue("boundary=", items);
    CharSet = TIpMimeHeaders::ParamValue("charset=", items);
    const std::string related = TIpMimeHeaders::ParamValue("type=", items);
    if (!related.empty()) {
        const size_t relatedSlash = related.find('/');
        RelatedType = related.substr(0, relatedSlash);
        RelatedSubtype =
            relatedSlash == std::string::npos ? std::string() : related.substr(relatedSlash + 1);
        RelatedStart = TIpMimeHeaders::ParamValue("start=", items);
        RelatedStartInfo = TIpMimeHeaders::ParamValue("start-info=", items);
    }
    if (IsMultipart && Boundary.empty())
        throw EIpBaseException("No Mime boundary");

    MimeVersion = TIpMimeHeaders::HeaderValue("MIME-Version: ", headers);
    ContentTransferEncoding =
        EncodingFromName(TIpMimeHeaders::HeaderValue("Content-Transfer-Encoding: ", headers));
    ContentDescription = TIpMimeHeaders::HeaderValue("Content-Description: ", headers);
    ContentID = TIpMimeHeaders::HeaderValue("Content-ID: ", headers);

    const std::string disposition = TIpMimeHeaders::HeaderValue("Content-Disposition: ", headers);
    if (disposition.empty())
        return;
    items.clear();
    TIpMimeHeaders::SplitValue(disposition, ';', items);
    DispositionType = items.empty() ? std::string() : items.front();
    if (items.size() < 2)
        return;
    FileName = TIpMimeHeaders::ParamValue("filename=", items);
    CreationDate = TIpMimeHeaders::ParamValue("creation-date=", items);
    ModificationDate = TIpMimeHeaders::ParamValue("modification-date=", items);
    ReadDate = TIpMimeHeaders::ParamValue("read-date=", items);
    const std::string size = TIpMimeHeaders::ParamValue("size=", items);
    FileSize = 0;
    if (!size.empty() && size.find_first_not_of("0123456789") == std::string::npos &&
        size.size() <= 18)
        FileSize = std::stoll(size);
}

void TIpMimeEntity::ParseEntity(TIpAnsiTextStream& source, std::string& line) {
    ReadSkippingEmpty(source, line);
    if (TIpMimeHeaders::StartsText(line, "Content-")) {
        TStrings headers{line};
        while (!source.AtEndOfStream()) {
            source.ReadLine(line);
            if (line.empty())
                break;
            headers.push_back(line);
        }
        ParseMimeHeaders(headers);
        ReadSkippingEmpty(source, line);
    }
    // The root has no parent boundary: a body line "--" is text there, not a delimiter.
    const std::string delimiter = ParentBoundary.empty() ? std::string() : "--" + ParentBoundary;
    const std::string closeDelimiter = delimiter.empty() ? std::string() : delimiter + "--";
    const std::string childDelimiter = "--" + Boundary;
    for (;;) {
        if ((!delimiter.empty() && line == delimiter) || source.AtEndOfStream())
            return;
        if (!closeDelimiter.empty() && StartsWith(line, closeDelimiter)) {
            source.ReadLine(line);
            return;
        }
        if (IsMultipart && StartsWith(line, childDelimiter) && Depth() < MaxNesting) {
            auto child = std::make_unique<TIpMimeEntity>(this);
            child->ParseEntity(source, line);
            Parts.Add(child.release());
            continue;
        }
        Body.WriteLine(line);
        source.ReadLine(line);
    }
}

int TIpMimeEntity::Depth() const {
    int depth = 0;
    for (const TIpMimeEntity* up = FParent; up != nullptr; up = up->FParent)
        ++depth;
    return depth;
}

void TIpMimeEntity::CopyAttachmentFields(const TIpMimeEntity& from) {
    ContentType = from.ContentType;
    ContentSubtype = from.ContentSubtype;
    DispositionType = from.DispositionType;
    ContentDescription = from.ContentDescription;
    ContentTransferEncoding = from.ContentTransferEncoding;
    CharSet = from.CharSet;
    CreationDate = from.CreationDate;
    FileName = from.FileName;
    ContentName = from.ContentName;
    ModificationDate = from.ModificationDate;
    MimeVersion = from.MimeVersion;
    FileSize = from.FileSize;
    ReadDate = from.ReadDate;
    IsMime = true;
    IsMultipart = false;
}
