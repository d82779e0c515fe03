#include "banner/TJpegDecoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace {

// libjpeg's error manager, extended with the place to return to and the text of the fault.
struct TJpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf returnTo;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<TJpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->returnTo, 1);
}

// Level -1 is a warning about damaged data; the others are trace messages, which stay quiet.
void EmitMessage(j_common_ptr cinfo, int level) {
    if (level < 0)
        ErrorExit(cinfo);
}

// Owns one decompression object from creation to destruction.
class TJpegDecompressor {
public:
    TJpegDecompressor() {
        std::memset(&cinfo, 0, sizeof cinfo);
        std::memset(&errors, 0, sizeof errors);
        cinfo.err = jpeg_std_error(&errors.pub);
        errors.pub.error_exit = ErrorExit;
        errors.pub.emit_message = EmitMessage;
    }
    // Safe also when creation failed halfway: libjpeg frees only what it allocated.
    ~TJpegDecompressor() { jpeg_destroy_decompress(&cinfo); }
    TJpegDecompressor(const TJpegDecompressor&) = delete;
    TJpegDecompressor& operator=(const TJpegDecompressor&) = delete;

    jpeg_decompress_struct cinfo;
    TJpegErrorManager errors;
};

// Every object with a destructor lives in the caller's frame: a fault jumps back to the setjmp
// below, and nothing between here and libjpeg may need cleaning up on the way.
bool DecodeInto(TJpegDecompressor& d, const QByteArray& data, QImage& image, const char*& fault) {
    jpeg_decompress_struct* cinfo = &d.cinfo;
    if (setjmp(d.errors.returnTo) != 0) {
        fault = d.errors.message;
        return false;
    }
    jpeg_create_decompress(cinfo);
    jpeg_mem_src(cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(cinfo, TRUE);
    if (qint64(cinfo->image_width) * qint64(cinfo->image_height) > TJpegDecoder::MaxPixels) {
        fault = "picture too large";
        return false;
    }
    cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 3) {
        fault = "unsupported colour layout";
        return false;
    }
    image = QImage(int(cinfo->output_width), int(cinfo->output_height), QImage::Format_RGB888);
    if (image.isNull()) {
        fault = "not enough memory for the picture";
        return false;
    }
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = image.scanLine(int(cinfo->output_scanline));
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

} // namespace

QImage TJpegDecoder::Decode(const QByteArray& data, QString* error) {
    TJpegDecompressor decompressor;
    QImage image;
    const char* fault = nullptr;
    if (!DecodeInto(decompressor, data, image, fault)) {
        if (error != nullptr)
            *error = QString::fromLocal8Bit(fault);
        return QImage();
    }
    return image;
}
