#include "JpegImage.h"

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

namespace {

// Pictures larger than this are refused before any pixel memory is taken.
constexpr long long MaxPixels = 64LL * 1024 * 1024;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

void OutputMessage(j_common_ptr) {}  // warnings stay quiet

struct DecodeTarget {
    QImage image;
};

// Keeps only plain data in the frame that setjmp marks: the image lives in the caller's
// frame and is reached through a pointer that does not change after setjmp.
bool Decode(const unsigned char *bytes, unsigned long size, DecodeTarget *target)
{
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = OutputMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes, size);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.jpeg_color_space != JCS_GRAYSCALE && cinfo.jpeg_color_space != JCS_YCbCr
        && cinfo.jpeg_color_space != JCS_RGB) {
        jpeg_destroy_decompress(&cinfo);
        return false;  // CMYK and other spaces are not shown
    }
    cinfo.out_color_space = JCS_RGB;
    if ((long long)cinfo.image_width * cinfo.image_height > MaxPixels) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    target->image = QImage(int(cinfo.output_width), int(cinfo.output_height), QImage::Format_RGB888);
    if (target->image.isNull()) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = target->image.scanLine(int(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray &data)
{
    if (data.isEmpty())
        return {};
    DecodeTarget target;
    if (!Decode(reinterpret_cast<const unsigned char *>(data.constData()),
                static_cast<unsigned long>(data.size()), &target))
        return {};
    return target.image;
}
