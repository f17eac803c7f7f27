#include "app/TJpegDecoder.h"
#include "resources/Resources.h"

#include <QFile>
#include <cstdlib>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <vector>

namespace pellwick {
namespace {

// Encodes `pixels` (rows of `components` samples each) as a JPEG in memory.
std::vector<unsigned char> Encode(int width, int height, int components, J_COLOR_SPACE space,
                                  const std::vector<unsigned char>& pixels, bool progressive) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        auto* row = const_cast<JSAMPROW>(pixels.data() + cinfo.next_scanline *
                                                             static_cast<std::size_t>(width) *
                                                             static_cast<std::size_t>(components));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<unsigned char> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

// Left half red, right half blue: enough structure to catch swapped channels or halves.
std::vector<unsigned char> RedBlueHalves(int width, int height) {
    std::vector<unsigned char> px;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool left = x < width / 2;
            px.insert(px.end(), {static_cast<unsigned char>(left ? 230 : 20), 20,
                                 static_cast<unsigned char>(left ? 20 : 230)});
        }
    }
    return px;
}

// Busy pixels, so that the scan data, not the tables, makes up most of the file.
std::vector<unsigned char> Noise(int width, int height) {
    std::vector<unsigned char> px(static_cast<std::size_t>(width) * height * 3);
    unsigned state = 12345;
    for (auto& p : px) {
        state = state * 1103515245u + 12345u;
        p = static_cast<unsigned char>(state >> 24);
    }
    return px;
}

bool Near(QRgb actual, int r, int g, int b, int tolerance = 12) {
    return std::abs(qRed(actual) - r) <= tolerance && std::abs(qGreen(actual) - g) <= tolerance &&
           std::abs(qBlue(actual) - b) <= tolerance;
}

TEST(JpegDecoder, DecodesColourJpegWithChannelsAndLayoutIntact) {
    for (const bool progressive : {false, true}) {
        const auto jpeg = Encode(48, 16, 3, JCS_RGB, RedBlueHalves(48, 16), progressive);
        std::string error;
        const QImage img = TJpegDecoder::Decode(jpeg.data(), jpeg.size(), &error);
        ASSERT_FALSE(img.isNull()) << error;
        EXPECT_EQ(img.size(), QSize(48, 16));
        EXPECT_EQ(img.format(), QImage::Format_RGB32);
        EXPECT_TRUE(Near(img.pixel(4, 8), 230, 20, 20)) << std::hex << img.pixel(4, 8);
        EXPECT_TRUE(Near(img.pixel(44, 8), 20, 20, 230)) << std::hex << img.pixel(44, 8);
        EXPECT_EQ(qAlpha(img.pixel(44, 8)), 255);
    }
}

TEST(JpegDecoder, DecodesGreyAndAdobeCmykJpegsToRgb) {
    std::vector<unsigned char> grey(20 * 10);
    for (std::size_t i = 0; i < grey.size(); ++i) {
        grey[i] = (i % 20) < 10 ? 40 : 200;
    }
    const auto greyJpeg = Encode(20, 10, 1, JCS_GRAYSCALE, grey, false);
    const QImage g = TJpegDecoder::Decode(greyJpeg.data(), greyJpeg.size());
    ASSERT_FALSE(g.isNull());
    EXPECT_TRUE(Near(g.pixel(2, 5), 40, 40, 40));
    EXPECT_TRUE(Near(g.pixel(17, 5), 200, 200, 200));

    // Pure red in inverted CMYK (no cyan, full magenta and yellow, no black), as Adobe stores it.
    std::vector<unsigned char> cmyk;
    for (int i = 0; i < 16 * 16; ++i) {
        cmyk.insert(cmyk.end(), {255, 0, 0, 255});
    }
    const auto cmykJpeg = Encode(16, 16, 4, JCS_CMYK, cmyk, false);
    const QImage c = TJpegDecoder::Decode(cmykJpeg.data(), cmykJpeg.size());
    ASSERT_FALSE(c.isNull());
    EXPECT_TRUE(Near(c.pixel(8, 8), 255, 0, 0)) << std::hex << c.pixel(8, 8);
}

TEST(JpegDecoder, RejectsDamagedOrForeignDataWithoutEndingTheProcess) {
    const auto jpeg = Encode(128, 128, 3, JCS_RGB, Noise(128, 128), false);
    ASSERT_GT(jpeg.size(), 10000u);
    const std::string text = "this is not a picture at all";
    const struct {
        const char* name;
        const unsigned char* data;
        std::size_t size;
    } rows[] = {
        {"nothing", nullptr, 0},
        {"text", reinterpret_cast<const unsigned char*>(text.data()), text.size()},
        // Cut in the middle of the scan: libjpeg alone would fill the rest with grey.
        {"cut in the scan", jpeg.data(), jpeg.size() * 3 / 4},
        {"header only", jpeg.data(), 40},
    };
    for (const auto& row : rows) {
        std::string error;
        EXPECT_TRUE(TJpegDecoder::Decode(row.data, row.size, &error).isNull()) << row.name;
        EXPECT_FALSE(error.empty()) << row.name;
    }
    EXPECT_FALSE(TJpegDecoder::Decode(jpeg.data(), jpeg.size()).isNull())
        << "a failure leaves no state behind";
}

TEST(JpegDecoder, DecodesTheAboutPictureLinkedIntoTheProgram) {
    InitResources();
    QFile file(kAboutPicturePath);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    std::string error;
    const QImage img = TJpegDecoder::Decode(file.readAll(), &error);
    ASSERT_FALSE(img.isNull()) << error;
    EXPECT_EQ(img.size(), QSize(329, 129));
}

} // namespace
} // namespace pellwick
