#include "image_writers.h"

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>

namespace zelkor::output {

namespace {

const char* const kEmptyImage = "图像为空，没有可保存的内容";

std::string ErrnoText(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

// Little-endian byte assembly for the BMP and icon headers.
class LeBytes {
public:
    void U8(unsigned v) { data_.push_back(static_cast<std::uint8_t>(v)); }
    void U16(unsigned v)
    {
        U8(v & 0xFFu);
        U8((v >> 8) & 0xFFu);
    }
    void U32(std::uint32_t v)
    {
        U16(v & 0xFFFFu);
        U16(v >> 16);
    }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Append(const std::uint8_t* p, std::size_t n) { data_.insert(data_.end(), p, p + n); }
    const std::vector<std::uint8_t>& Data() const { return data_; }

private:
    std::vector<std::uint8_t> data_;
};

// The file being written. Unless Finish() succeeds, the destructor closes it and removes it again
// if it is a regular file (a device such as /dev/full is left alone, and so is a symbolic link).
class OutputFile {
public:
    explicit OutputFile(std::filesystem::path path) : path_(std::move(path)) {}
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile()
    {
        if (file_) std::fclose(file_);
        if (opened_ && !finished_) {
            std::error_code ec;
            if (std::filesystem::symlink_status(path_, ec).type() == std::filesystem::file_type::regular)
                std::filesystem::remove(path_, ec);
        }
    }

    WriteResult Open()
    {
        errno = 0;
        file_ = std::fopen(path_.c_str(), "wb");
        if (!file_)
            return WriteResult::Failure("无法创建文件“" + path_.string() + "”：" + ErrnoText(errno));
        opened_ = true;
        return {};
    }

    std::FILE* Get() const { return file_; }

    WriteResult Write(const std::uint8_t* data, std::size_t size)
    {
        errno = 0;
        if (size != 0 && std::fwrite(data, 1, size, file_) != size) return WriteFailed(errno);
        return {};
    }

    // Flushes and closes; a failure here (a full disk shows up no earlier) is a failed write.
    WriteResult Finish()
    {
        errno = 0;
        const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
        const int flushError = errno;
        const bool closed = std::fclose(file_) == 0;
        const int closeError = errno;
        file_ = nullptr;
        if (!flushed) return WriteFailed(flushError);
        if (!closed) return WriteFailed(closeError);
        finished_ = true;
        return {};
    }

    WriteResult WriteFailed(int error) const
    {
        return WriteResult::Failure("写入文件“" + path_.string() + "”失败：" +
                                    (error != 0 ? ErrnoText(error) : std::string("输入输出错误")));
    }

private:
    std::filesystem::path path_;
    std::FILE* file_ = nullptr;
    bool opened_ = false;
    bool finished_ = false;
};

bool AnyTranslucent(const RgbaImage& image)
{
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.Row(y);
        for (int x = 0; x < image.width; ++x)
            if (row[4 * x + 3] != 255) return true;
    }
    return false;
}

// ---- PNG ----------------------------------------------------------------------------------------

struct PngErrorState {
    char message[256] = {};
};

void PngError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message ? message : "");
    png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

// Everything with a destructor lives in the caller, so the library's longjmp skips none.
bool EncodePng(std::FILE* file, const RgbaImage* image, bool alpha, png_bytep* rows, PngErrorState* state)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, state, PngError, PngWarning);
    if (!png) {
        std::snprintf(state->message, sizeof state->message, "%s", "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(state->message, sizeof state->message, "%s", "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image->width), static_cast<png_uint_32>(image->height), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (!alpha) png_set_filler(png, 0, PNG_FILLER_AFTER);  // rows stay RGBA; the fourth byte is dropped
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// ---- JPEG ---------------------------------------------------------------------------------------

// The library's error manager first, so the pointer it hands back is a pointer to the whole.
struct JpegJob {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    jpeg_compress_struct cinfo;
};

void JpegErrorExit(j_common_ptr cinfo)
{
    auto* job = reinterpret_cast<JpegJob*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, job->message);
    std::longjmp(job->jump, 1);
}

void JpegQuiet(j_common_ptr) {}  // warnings go nowhere; errors reach the user through JpegErrorExit

bool EncodeJpeg(std::FILE* file, const RgbaImage* image, JSAMPLE* rowBuffer, JpegJob* job)
{
    std::memset(&job->cinfo, 0, sizeof job->cinfo);
    job->message[0] = '\0';
    job->cinfo.err = jpeg_std_error(&job->manager);
    job->manager.error_exit = JpegErrorExit;
    job->manager.output_message = JpegQuiet;
    if (setjmp(job->jump)) {
        jpeg_destroy_compress(&job->cinfo);
        return false;
    }
    jpeg_create_compress(&job->cinfo);
    jpeg_stdio_dest(&job->cinfo, file);
    job->cinfo.image_width = static_cast<JDIMENSION>(image->width);
    job->cinfo.image_height = static_cast<JDIMENSION>(image->height);
    job->cinfo.input_components = 3;
    job->cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&job->cinfo);
    jpeg_set_quality(&job->cinfo, kJpegQuality, TRUE);
    jpeg_start_compress(&job->cinfo, TRUE);
    while (job->cinfo.next_scanline < job->cinfo.image_height) {
        const std::uint8_t* src = image->Row(static_cast<int>(job->cinfo.next_scanline));
        for (int x = 0; x < image->width; ++x) {
            rowBuffer[3 * x] = src[4 * x];
            rowBuffer[3 * x + 1] = src[4 * x + 1];
            rowBuffer[3 * x + 2] = src[4 * x + 2];
        }
        JSAMPROW row = rowBuffer;
        jpeg_write_scanlines(&job->cinfo, &row, 1);
    }
    jpeg_finish_compress(&job->cinfo);
    jpeg_destroy_compress(&job->cinfo);
    return true;
}

}  // namespace

RgbaImage RgbaImage::Filled(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b,
                            std::uint8_t a)
{
    RgbaImage image;
    image.width = std::max(0, width);
    image.height = std::max(0, height);
    image.stride = static_cast<std::size_t>(image.width) * 4;
    image.bytes.resize(image.stride * static_cast<std::size_t>(image.height));
    for (std::size_t i = 0; i + 3 < image.bytes.size(); i += 4) {
        image.bytes[i] = r;
        image.bytes[i + 1] = g;
        image.bytes[i + 2] = b;
        image.bytes[i + 3] = a;
    }
    return image;
}

bool RgbaImage::IsValid() const
{
    if (width <= 0 || height <= 0) return false;
    const auto w = static_cast<std::size_t>(width);
    const auto h = static_cast<std::size_t>(height);
    if (w > std::numeric_limits<std::size_t>::max() / 4 || stride < 4 * w) return false;
    if (stride > std::numeric_limits<std::size_t>::max() / h) return false;
    return bytes.size() >= stride * (h - 1) + 4 * w;
}

ImageFormat FormatFromFileName(std::string_view path)
{
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos) return ImageFormat::None;
    std::string ext(path.substr(dot + 1, 3));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == "bmp") return ImageFormat::Bmp;
    if (ext == "jpg" || ext == "jpe" || ext == "jfi") return ImageFormat::Jpeg;
    if (ext == "png") return ImageFormat::Png;
    if (ext == "ico") return ImageFormat::Icon;
    if (ext == "cur") return ImageFormat::Cursor;
    return ImageFormat::None;
}

RgbaImage ScaleDownToFit(const RgbaImage& image, int maxSide)
{
    if (!image.IsValid() || maxSide <= 0 || (image.width <= maxSide && image.height <= maxSide)) return image;
    const std::int64_t w = image.width;
    const std::int64_t h = image.height;
    const std::int64_t side = maxSide;
    std::int64_t dw = side;
    std::int64_t dh = side;
    if (w >= h)
        dh = std::max<std::int64_t>(1, (h * side + w / 2) / w);
    else
        dw = std::max<std::int64_t>(1, (w * side + h / 2) / h);

    RgbaImage out = RgbaImage::Filled(static_cast<int>(dw), static_cast<int>(dh), 0, 0, 0, 0);
    for (std::int64_t dy = 0; dy < dh; ++dy) {
        const std::int64_t y0 = dy * h / dh;
        const std::int64_t y1 = std::max(y0 + 1, (dy + 1) * h / dh);
        std::uint8_t* dst = out.Row(static_cast<int>(dy));
        for (std::int64_t dx = 0; dx < dw; ++dx) {
            const std::int64_t x0 = dx * w / dw;
            const std::int64_t x1 = std::max(x0 + 1, (dx + 1) * w / dw);
            // Colours weighted by alpha, so transparent pixels do not darken the edges.
            std::uint64_t sr = 0, sg = 0, sb = 0, sa = 0;
            for (std::int64_t y = y0; y < y1; ++y) {
                const std::uint8_t* src = image.Row(static_cast<int>(y));
                for (std::int64_t x = x0; x < x1; ++x) {
                    const std::uint8_t* p = src + 4 * x;
                    sr += std::uint64_t{p[0]} * p[3];
                    sg += std::uint64_t{p[1]} * p[3];
                    sb += std::uint64_t{p[2]} * p[3];
                    sa += p[3];
                }
            }
            const auto n = static_cast<std::uint64_t>((y1 - y0) * (x1 - x0));
            std::uint8_t* q = dst + 4 * dx;
            if (sa != 0) {
                q[0] = static_cast<std::uint8_t>((sr + sa / 2) / sa);
                q[1] = static_cast<std::uint8_t>((sg + sa / 2) / sa);
                q[2] = static_cast<std::uint8_t>((sb + sa / 2) / sa);
            }
            q[3] = static_cast<std::uint8_t>((sa + n / 2) / n);
        }
    }
    return out;
}

WriteResult WriteBmp(const RgbaImage& image, const std::filesystem::path& path)
{
    if (!image.IsValid()) return WriteResult::Failure(kEmptyImage);
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(image.width) * 3 + 3) & ~std::uint64_t{3};
    const std::uint64_t pixelBytes = rowBytes * static_cast<std::uint64_t>(image.height);
    constexpr std::uint32_t kHeaderBytes = 14 + 40;
    if (pixelBytes > std::numeric_limits<std::uint32_t>::max() - kHeaderBytes)
        return WriteResult::Failure("图像太大，无法保存为 BMP 文件");

    LeBytes header;
    // BITMAPFILEHEADER
    header.U8('B');
    header.U8('M');
    header.U32(static_cast<std::uint32_t>(kHeaderBytes + pixelBytes));
    header.U16(0);
    header.U16(0);
    header.U32(kHeaderBytes);
    // BITMAPINFOHEADER: positive height, so rows run bottom-up; 24 bits, uncompressed, 96 dpi.
    header.U32(40);
    header.I32(image.width);
    header.I32(image.height);
    header.U16(1);
    header.U16(24);
    header.U32(0);
    header.U32(static_cast<std::uint32_t>(pixelBytes));
    header.I32(3780);
    header.I32(3780);
    header.U32(0);
    header.U32(0);

    OutputFile out(path);
    if (WriteResult r = out.Open(); !r.ok) return r;
    if (WriteResult r = out.Write(header.Data().data(), header.Data().size()); !r.ok) return r;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes), 0);  // padding stays zero
    for (int y = image.height - 1; y >= 0; --y) {
        const std::uint8_t* src = image.Row(y);
        for (int x = 0; x < image.width; ++x) {
            row[static_cast<std::size_t>(3 * x)] = src[4 * x + 2];
            row[static_cast<std::size_t>(3 * x + 1)] = src[4 * x + 1];
            row[static_cast<std::size_t>(3 * x + 2)] = src[4 * x];
        }
        if (WriteResult r = out.Write(row.data(), row.size()); !r.ok) return r;
    }
    return out.Finish();
}

WriteResult WriteIcon(const RgbaImage& source, const std::filesystem::path& path, bool cursor)
{
    if (!source.IsValid()) return WriteResult::Failure(kEmptyImage);
    const RgbaImage image = ScaleDownToFit(source, kMaxIconSide);
    const auto w = static_cast<std::uint32_t>(image.width);
    const auto h = static_cast<std::uint32_t>(image.height);
    const std::uint32_t xorRow = 4 * w;
    const std::uint32_t andRow = (w + 31) / 32 * 4;
    const std::uint32_t bitsBytes = (xorRow + andRow) * h;
    constexpr std::uint32_t kDirBytes = 6 + 16;

    LeBytes b;
    // ICONDIR: reserved, type (1 icon, 2 cursor), one image.
    b.U16(0);
    b.U16(cursor ? 2 : 1);
    b.U16(1);
    // ICONDIRENTRY: 0 stands for 256. For a cursor the planes and bit-count fields hold the hotspot.
    b.U8(w == 256 ? 0 : w);
    b.U8(h == 256 ? 0 : h);
    b.U8(0);
    b.U8(0);
    b.U16(cursor ? 0 : 1);
    b.U16(cursor ? 0 : 32);
    b.U32(40 + bitsBytes);
    b.U32(kDirBytes);
    // The image: a BITMAPINFOHEADER whose height counts the colour rows and the mask rows.
    b.U32(40);
    b.I32(image.width);
    b.I32(image.height * 2);
    b.U16(1);
    b.U16(32);
    b.U32(0);
    b.U32(bitsBytes);
    b.I32(0);
    b.I32(0);
    b.U32(0);
    b.U32(0);
    std::vector<std::uint8_t> row(xorRow);
    for (int y = image.height - 1; y >= 0; --y) {
        const std::uint8_t* src = image.Row(y);
        for (std::uint32_t x = 0; x < w; ++x) {
            row[4 * x] = src[4 * x + 2];
            row[4 * x + 1] = src[4 * x + 1];
            row[4 * x + 2] = src[4 * x];
            row[4 * x + 3] = src[4 * x + 3];
        }
        b.Append(row.data(), row.size());
    }
    // AND mask, one bit a pixel, most significant bit first: set where the pixel is fully transparent.
    std::vector<std::uint8_t> mask(andRow);
    for (int y = image.height - 1; y >= 0; --y) {
        std::fill(mask.begin(), mask.end(), std::uint8_t{0});
        const std::uint8_t* src = image.Row(y);
        for (std::uint32_t x = 0; x < w; ++x)
            if (src[4 * x + 3] == 0) mask[x / 8] = static_cast<std::uint8_t>(mask[x / 8] | (0x80u >> (x % 8)));
        b.Append(mask.data(), mask.size());
    }

    OutputFile out(path);
    if (WriteResult r = out.Open(); !r.ok) return r;
    if (WriteResult r = out.Write(b.Data().data(), b.Data().size()); !r.ok) return r;
    return out.Finish();
}

WriteResult WritePng(const RgbaImage& image, const std::filesystem::path& path)
{
    if (!image.IsValid()) return WriteResult::Failure(kEmptyImage);
    const bool alpha = AnyTranslucent(image);
    std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
    for (int y = 0; y < image.height; ++y)
        rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(image.Row(y));  // libpng only reads them

    OutputFile out(path);
    if (WriteResult r = out.Open(); !r.ok) return r;
    PngErrorState state;
    if (!EncodePng(out.Get(), &image, alpha, rows.data(), &state))
        return WriteResult::Failure(std::string("PNG 编码失败：") + state.message);
    return out.Finish();
}

WriteResult WriteJpeg(const RgbaImage& image, const std::filesystem::path& path)
{
    if (!image.IsValid()) return WriteResult::Failure(kEmptyImage);
    std::vector<JSAMPLE> rowBuffer(static_cast<std::size_t>(image.width) * 3);
    auto job = std::make_unique<JpegJob>();

    OutputFile out(path);
    if (WriteResult r = out.Open(); !r.ok) return r;
    if (!EncodeJpeg(out.Get(), &image, rowBuffer.data(), job.get()))
        return WriteResult::Failure(std::string("JPEG 编码失败：") + job->message);
    return out.Finish();
}

WriteResult WriteImage(const RgbaImage& image, const std::filesystem::path& path, ImageFormat format)
{
    switch (format) {
    case ImageFormat::Bmp: return WriteBmp(image, path);
    case ImageFormat::Jpeg: return WriteJpeg(image, path);
    case ImageFormat::Png: return WritePng(image, path);
    case ImageFormat::Icon: return WriteIcon(image, path, false);
    case ImageFormat::Cursor: return WriteIcon(image, path, true);
    case ImageFormat::None: break;
    }
    return {};
}

}  // namespace zelkor::output
