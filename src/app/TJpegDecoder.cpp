#include "app/TJpegDecoder.h"

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>
// after jpeglib.h, which it relies on
#include <jerror.h>
#include <vector>

namespace pellwick {

namespace {

// libjpeg's default error handler ends the process; this one jumps back to the decoder instead
// and keeps the message. Warnings about corrupt data are fatal here as well.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void OnError(j_common_ptr cinfo) {
    auto* mgr = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, mgr->message);
    std::longjmp(mgr->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
    // Level -1 is a warning: the data is damaged and libjpeg would go on with made-up pixels.
    // Notes about unknown header versions or colour transforms leave the pixels intact.
    const int code = cinfo->err->msg_code;
    if (level < 0 && code != JWRN_JFIF_MAJOR && code != JWRN_ADOBE_XFORM) {
        OnError(cinfo);
    }
}

void CmykToRgb(const JSAMPLE* cmyk, QImage& image, int row, bool inverted) {
    auto* out = reinterpret_cast<QRgb*>(image.scanLine(row));
    for (int x = 0; x < image.width(); ++x) {
        int c = cmyk[4 * x];
        int m = cmyk[4 * x + 1];
        int y = cmyk[4 * x + 2];
        int k = cmyk[4 * x + 3];
        // Adobe's writers store the inks inverted (255 = no ink).
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        out[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
    }
}

// Everything with a destructor lives in the caller, so the jump back skips none.
bool DecodeInto(jpeg_decompress_struct& cinfo, ErrorManager& err, const unsigned char* data,
                std::size_t size, QImage& image, std::vector<JSAMPLE>& rowBuffer) {
    if (setjmp(err.jump) != 0) {
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);

    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool gray = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    cinfo.out_color_space = cmyk ? JCS_CMYK : (gray ? JCS_GRAYSCALE : JCS_RGB);
    jpeg_start_decompress(&cinfo);

    const int width = static_cast<int>(cinfo.output_width);
    const int height = static_cast<int>(cinfo.output_height);
    const QImage::Format format =
        cmyk ? QImage::Format_RGB32 : (gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    image = QImage(width, height, format);
    if (image.isNull()) {
        std::snprintf(err.message, sizeof err.message, "image of %d x %d pixels is too large",
                      width, height);
        return false;
    }
    if (cmyk) {
        rowBuffer.resize(static_cast<std::size_t>(width) * 4);
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        const int row = static_cast<int>(cinfo.output_scanline);
        JSAMPROW target = cmyk ? rowBuffer.data() : image.scanLine(row);
        if (jpeg_read_scanlines(&cinfo, &target, 1) != 1) {
            std::snprintf(err.message, sizeof err.message, "data ends in row %d", row);
            return false;
        }
        if (cmyk) {
            CmykToRgb(rowBuffer.data(), image, row, cinfo.saw_Adobe_marker != 0);
        }
    }
    jpeg_finish_decompress(&cinfo);
    return true;
}

} // namespace

QImage TJpegDecoder::Decode(const unsigned char* data, std::size_t size, std::string* error) {
    if (data == nullptr || size == 0) {
        if (error != nullptr) {
            *error = "no data";
        }
        return QImage();
    }
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = OnError;
    err.base.emit_message = OnMessage;
    QImage image;
    std::vector<JSAMPLE> rowBuffer;
    const bool ok = DecodeInto(cinfo, err, data, size, image, rowBuffer);
    jpeg_destroy_decompress(&cinfo);
    if (!ok) {
        if (error != nullptr) {
            *error = err.message;
        }
        return QImage();
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage TJpegDecoder::Decode(const QByteArray& data, std::string* error) {
    return Decode(reinterpret_cast<const unsigned char*>(data.constData()),
                  static_cast<std::size_t>(data.size()), error);
}

} // namespace pellwick
