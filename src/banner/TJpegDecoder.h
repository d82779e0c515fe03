#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Decodes a JPEG picture held in memory with libjpeg's decompression interface.
//
// Damaged input never ends the program: libjpeg's own error handler would exit the process, so the
// decoder installs one that returns control here, and it treats libjpeg's warnings (a truncated
// file, corrupt data that libjpeg would paint over in grey) as failures too. A failure gives a null
// image and libjpeg's description of the fault.
class TJpegDecoder {
public:
    // Pictures claiming more pixels than this are refused before any memory is taken for them.
    static constexpr qint64 MaxPixels = 64LL * 1024 * 1024;

    static QImage Decode(const QByteArray& data, QString* error = nullptr);
};
