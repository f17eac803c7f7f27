// Decodes JPEG data held in memory into a QImage with libjpeg's own API, so the program does not
// depend on an image format plugin being installed beside Qt.
#pragma once

#include <QByteArray>
#include <QImage>
#include <cstddef>
#include <string>

namespace pellwick {

class TJpegDecoder {
public:
    // Returns an RGB32 image, or a null image for data that is not a complete, decodable JPEG;
    // then `error`, when given, receives the reason. Damaged data that libjpeg would patch over
    // with grey (a truncated file, for instance) counts as undecodable rather than being shown.
    static QImage Decode(const unsigned char* data, std::size_t size, std::string* error = nullptr);
    static QImage Decode(const QByteArray& data, std::string* error = nullptr);
};

} // namespace pellwick
