#pragma once

#include "mime/TIpMessage.h"

// The article the NNTP client owns and the posting run fills. It is a message in every respect;
// assigning one of its lists (Newsgroups, Path, References, UserFields) copies the items.
class TIpNewsArticle : public TIpMessage {
public:
    TIpNewsArticle() = default;
    const char* ClassName() const override { return "TIpNewsArticle"; }
};
