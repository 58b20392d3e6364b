// Reading sides of libjpeg, libpng, libtiff and OpenJPEG, for checking what the writers wrote.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <openjpeg.h>
#include <png.h>
#include <tiffio.h>

#include "TestDecoders.h"

namespace dravix::test {
namespace {

struct JpegReadJob {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    std::jmp_buf jump;
    const std::vector<uint8_t>* bytes;
    RgbImage* image;
    JpegInfo* info;
    std::vector<uint8_t>* row;  // owned by the caller, so a longjmp skips no destructor
};

extern "C" void JpegReadError(j_common_ptr cinfo) {
    std::longjmp(static_cast<JpegReadJob*>(cinfo->client_data)->jump, 1);
}

// setjmp frame without destructible objects.
bool RunJpegRead(JpegReadJob* job) {
    job->cinfo.err = jpeg_std_error(&job->errors);
    job->errors.error_exit = JpegReadError;
    if (setjmp(job->jump) != 0) {
        jpeg_destroy_decompress(&job->cinfo);
        return false;
    }
    jpeg_create_decompress(&job->cinfo);
    job->cinfo.client_data = job;
    jpeg_mem_src(&job->cinfo, job->bytes->data(), job->bytes->size());
    jpeg_read_header(&job->cinfo, TRUE);
    job->info->components = job->cinfo.num_components;
    job->info->jfif = job->cinfo.saw_JFIF_marker;
    job->info->densityUnit = job->cinfo.density_unit;
    job->info->xDensity = job->cinfo.X_density;
    job->info->yDensity = job->cinfo.Y_density;
    job->cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&job->cinfo);
    job->image->width = job->cinfo.output_width;
    job->image->height = job->cinfo.output_height;
    job->image->rgb.assign(size_t{job->cinfo.output_width} * job->cinfo.output_height * 3, 0);
    job->row->assign(size_t{job->cinfo.output_width} * 3, 0);
    JSAMPROW rows[1] = {job->row->data()};
    uint8_t* out = job->image->rgb.data();
    while (job->cinfo.output_scanline < job->cinfo.output_height) {
        jpeg_read_scanlines(&job->cinfo, rows, 1);
        std::memcpy(out, job->row->data(), size_t{job->cinfo.output_width} * 3);
        out += size_t{job->cinfo.output_width} * 3;
    }
    jpeg_finish_decompress(&job->cinfo);
    jpeg_destroy_decompress(&job->cinfo);
    return true;
}

}  // namespace

bool DecodeJpeg(const std::vector<uint8_t>& bytes, RgbImage& image, JpegInfo& info) {
    if (bytes.empty()) return false;
    std::vector<uint8_t> row;
    JpegReadJob job{};
    job.bytes = &bytes;
    job.image = &image;
    job.info = &info;
    job.row = &row;
    return RunJpegRead(&job);
}

std::vector<PngChunk> PngChunks(const std::vector<uint8_t>& bytes) {
    std::vector<PngChunk> chunks;
    size_t pos = 8;
    while (bytes.size() >= pos + 12) {
        const uint32_t length = uint32_t{bytes[pos]} << 24 | uint32_t{bytes[pos + 1]} << 16 |
                                uint32_t{bytes[pos + 2]} << 8 | bytes[pos + 3];
        if (bytes.size() - pos - 12 < length) break;
        PngChunk chunk;
        chunk.type.assign(bytes.begin() + static_cast<long>(pos + 4),
                          bytes.begin() + static_cast<long>(pos + 8));
        chunk.data.assign(bytes.begin() + static_cast<long>(pos + 8),
                          bytes.begin() + static_cast<long>(pos + 8 + length));
        chunks.push_back(std::move(chunk));
        pos += 12 + length;
    }
    return chunks;
}

bool DecodePng(const std::vector<uint8_t>& bytes, RgbImage& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) return false;
    png.format = PNG_FORMAT_RGB;
    image.width = png.width;
    image.height = png.height;
    image.rgb.assign(PNG_IMAGE_SIZE(png), 0);
    const bool ok = png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr) != 0;
    png_image_free(&png);
    return ok;
}

bool DecodeTiff(const std::vector<uint8_t>& bytes, RgbImage& image, TiffInfo& info) {
    const std::string path = TempPath("decode.tif");
    WriteFile(path, bytes);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) return false;
    uint32_t width = 0, height = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &info.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &info.photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &info.samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &info.bitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PREDICTOR, &info.predictor);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &info.rowsPerStrip);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &info.xResolution);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &info.yResolution);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &info.resolutionUnit);
    TIFFGetField(tif, TIFFTAG_ORIENTATION, &info.orientation);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &info.planar);
    TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &info.subfileType);
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) {
        info.colourMapRed.assign(red, red + (size_t{1} << info.bitsPerSample));
    }
    std::vector<uint32_t> raster(size_t{width} * height);
    const bool ok = TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 0) != 0;
    TIFFClose(tif);
    std::remove(path.c_str());
    image.width = width;
    image.height = height;
    image.rgb.clear();
    for (uint32_t p : raster)
        image.rgb.insert(image.rgb.end(), {uint8_t(TIFFGetR(p)), uint8_t(TIFFGetG(p)), uint8_t(TIFFGetB(p))});
    return ok;
}

namespace {

struct MemoryInput {
    const std::vector<uint8_t>* bytes;
    size_t pos;
};

extern "C" OPJ_SIZE_T J2kRead(void* buffer, OPJ_SIZE_T size, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    const size_t left = in->bytes->size() - in->pos;
    if (left == 0) return static_cast<OPJ_SIZE_T>(-1);
    const size_t n = std::min<size_t>(size, left);
    std::memcpy(buffer, in->bytes->data() + in->pos, n);
    in->pos += n;
    return n;
}

extern "C" OPJ_OFF_T J2kSkip(OPJ_OFF_T offset, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    const auto target = std::clamp<OPJ_OFF_T>(static_cast<OPJ_OFF_T>(in->pos) + offset, 0,
                                              static_cast<OPJ_OFF_T>(in->bytes->size()));
    const OPJ_OFF_T moved = target - static_cast<OPJ_OFF_T>(in->pos);
    in->pos = static_cast<size_t>(target);
    return moved;
}

extern "C" OPJ_BOOL J2kSeek(OPJ_OFF_T offset, void* user) {
    auto* in = static_cast<MemoryInput*>(user);
    if (offset < 0 || static_cast<size_t>(offset) > in->bytes->size()) return OPJ_FALSE;
    in->pos = static_cast<size_t>(offset);
    return OPJ_TRUE;
}

}  // namespace

bool DecodeJpeg2000(const std::vector<uint8_t>& bytes, bool codeStream, RgbImage& image, Jpeg2000Info& info) {
    MemoryInput input{&bytes, 0};
    opj_stream_t* stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_TRUE);
    opj_stream_set_user_data(stream, &input, nullptr);
    opj_stream_set_user_data_length(stream, bytes.size());
    opj_stream_set_read_function(stream, J2kRead);
    opj_stream_set_skip_function(stream, J2kSkip);
    opj_stream_set_seek_function(stream, J2kSeek);
    opj_codec_t* codec = opj_create_decompress(codeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* decoded = nullptr;
    bool ok = opj_setup_decoder(codec, &parameters) && opj_read_header(stream, codec, &decoded) &&
              opj_decode(codec, stream, decoded) && opj_end_decompress(codec, stream);
    if (ok) {
        info.components = decoded->numcomps;
        info.precision = decoded->comps[0].prec;
        image.width = decoded->comps[0].w;
        image.height = decoded->comps[0].h;
        image.rgb.clear();
        for (size_t i = 0; i < size_t{image.width} * image.height; ++i) {
            for (unsigned c = 0; c < 3; ++c) {
                const unsigned comp = decoded->numcomps == 1 ? 0 : c;
                image.rgb.push_back(static_cast<uint8_t>(decoded->comps[comp].data[i]));
            }
        }
    }
    if (decoded) opj_image_destroy(decoded);
    opj_destroy_codec(codec);
    opj_stream_destroy(stream);
    return ok;
}

}  // namespace dravix::test
