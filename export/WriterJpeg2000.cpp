// JPEG-2000 file (JP2) and code stream (J2K) through OpenJPEG: one layer, reversible wavelet
// (lossless), the library's defaults otherwise. The encoder seeks back over its output, so the
// stream is built in memory and written to the sink in one call.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <openjpeg.h>

#include "export/ByteSink.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/MemoryFile.h"
#include "export/PixelRows.h"
#include "export/Writers.h"

namespace dravix::writers {
namespace {

constexpr int kDefaultResolutions = 6;
constexpr int kMaxThreads = 4;

extern "C" OPJ_SIZE_T StreamWrite(void* data, OPJ_SIZE_T size, void* user) {
    return static_cast<MemoryFile*>(user)->Write(data, size) ? size : static_cast<OPJ_SIZE_T>(-1);
}

extern "C" OPJ_OFF_T StreamSkip(OPJ_OFF_T offset, void* user) {
    auto* file = static_cast<MemoryFile*>(user);
    const auto target = static_cast<OPJ_OFF_T>(file->Position()) + offset;
    if (target < 0) return -1;
    file->Seek(static_cast<uint64_t>(target));
    return offset;
}

extern "C" OPJ_BOOL StreamSeek(OPJ_OFF_T offset, void* user) {
    if (offset < 0) return OPJ_FALSE;
    static_cast<MemoryFile*>(user)->Seek(static_cast<uint64_t>(offset));
    return OPJ_TRUE;
}

extern "C" void RecordMessage(const char* message, void* user) {
    auto* text = static_cast<std::string*>(user);
    if (!text->empty()) return;  // the first message names the cause
    try {
        text->assign(message);
        while (!text->empty() && (text->back() == '\n' || text->back() == ' ')) text->pop_back();
    } catch (...) {
    }
}

extern "C" void IgnoreMessage(const char*, void*) {}

// Owns the library objects of one encoding.
class OpenJpegSession final {
  public:
    ~OpenJpegSession() {
        if (m_stream) opj_stream_destroy(m_stream);
        if (m_codec) opj_destroy_codec(m_codec);
        if (m_image) opj_image_destroy(m_image);
    }
    opj_image_t* m_image = nullptr;
    opj_codec_t* m_codec = nullptr;
    opj_stream_t* m_stream = nullptr;
};

// Fills the components from the image: red, green, blue or one grey component.
void FillComponents(const ImageContainer& image, opj_image_t* out, bool grey) {
    const uint32_t width = image.Width();
    std::vector<uint8_t> row(size_t{width} * (grey ? 1 : 3));
    for (uint32_t y = 0; y < image.Height(); ++y) {
        const size_t base = size_t{y} * width;
        if (grey) {
            RowToIndices(image, y, row.data());
            std::copy(row.begin(), row.end(), out->comps[0].data + base);
            continue;
        }
        RowToRgb(image, y, row.data());
        OPJ_INT32* r = out->comps[0].data + base;
        OPJ_INT32* g = out->comps[1].data + base;
        OPJ_INT32* b = out->comps[2].data + base;
        for (uint32_t x = 0; x < width; ++x) {
            r[x] = row[3 * size_t{x}];
            g[x] = row[3 * size_t{x} + 1];
            b[x] = row[3 * size_t{x} + 2];
        }
    }
}

// Fewer resolution levels for small images: each level halves the smallest side.
int ResolutionsFor(uint32_t width, uint32_t height) {
    const uint32_t side = std::min(width, height);
    int levels = 1;
    while (levels < kDefaultResolutions && (side >> levels) > 0) ++levels;
    return levels;
}

}  // namespace

bool WriteJpeg2000(const ImageContainer& image, ByteSink& sink, bool codeStream, std::string& error) {
    const bool grey = image.BitsPerPixel() != 24;
    if (grey && !image.IsGreyRamp()) {
        error = texts::kOpenJpegDepth;
        return false;
    }
    // Declared before the session, which refers to both until it is destroyed.
    MemoryFile file;
    std::string message;
    OpenJpegSession session;
    const int components = grey ? 1 : 3;
    opj_image_cmptparm_t parameters[3]{};
    for (int i = 0; i < components; ++i) {
        parameters[i].dx = 1;
        parameters[i].dy = 1;
        parameters[i].w = image.Width();
        parameters[i].h = image.Height();
        parameters[i].prec = 8;
        parameters[i].sgnd = 0;
    }
    session.m_image = opj_image_create(static_cast<OPJ_UINT32>(components), parameters,
                                       grey ? OPJ_CLRSPC_GRAY : OPJ_CLRSPC_SRGB);
    session.m_codec = opj_create_compress(codeStream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2);
    if (session.m_image == nullptr || session.m_codec == nullptr) {
        error = texts::kOpenJpegInit;
        return false;
    }
    session.m_image->x0 = 0;
    session.m_image->y0 = 0;
    session.m_image->x1 = image.Width();
    session.m_image->y1 = image.Height();
    FillComponents(image, session.m_image, grey);

    opj_set_error_handler(session.m_codec, RecordMessage, &message);
    opj_set_warning_handler(session.m_codec, IgnoreMessage, nullptr);
    opj_set_info_handler(session.m_codec, IgnoreMessage, nullptr);

    opj_cparameters_t encoding;
    opj_set_default_encoder_parameters(&encoding);
    encoding.tcp_numlayers = 1;
    encoding.tcp_rates[0] = 0;  // lossless
    encoding.cp_disto_alloc = 1;
    encoding.numresolution = ResolutionsFor(image.Width(), image.Height());
    encoding.tcp_mct = grey ? 0 : 1;
    if (!opj_setup_encoder(session.m_codec, &encoding, session.m_image)) {
        error = texts::kOpenJpegInit;
        return false;
    }
    if (opj_has_thread_support()) {
        opj_codec_set_threads(session.m_codec, std::clamp(opj_get_num_cpus(), 1, kMaxThreads));
    }

    session.m_stream = opj_stream_create(OPJ_J2K_STREAM_CHUNK_SIZE, OPJ_FALSE);
    if (session.m_stream == nullptr) {
        error = texts::kOpenJpegInit;
        return false;
    }
    opj_stream_set_user_data(session.m_stream, &file, nullptr);
    opj_stream_set_write_function(session.m_stream, StreamWrite);
    opj_stream_set_skip_function(session.m_stream, StreamSkip);
    opj_stream_set_seek_function(session.m_stream, StreamSeek);

    const bool encoded = opj_start_compress(session.m_codec, session.m_image, session.m_stream) &&
                         opj_encode(session.m_codec, session.m_stream) &&
                         opj_end_compress(session.m_codec, session.m_stream);
    if (!encoded) {
        error = message.empty() ? texts::kOpenJpegEncode : message;
        return false;
    }
    if (!sink.Write(file.Bytes())) {
        error = texts::kWriteFailed;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
