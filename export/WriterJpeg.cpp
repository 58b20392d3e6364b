// JPEG through libjpeg (version 62 interface). libjpeg reports errors by calling error_exit,
// which must not return; ours longjmps back into RunCompression, a plain function that holds no
// object with a destructor, so no C++ frame is ever skipped.
#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "export/ByteSink.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/PixelRows.h"
#include "export/Writers.h"

namespace dravix::writers {
namespace {

constexpr size_t kOutputBufferSize = 64 * 1024;

struct JpegJob {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errorManager;
    jpeg_destination_mgr destination;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];

    const ImageContainer* image;
    ByteSink* sink;
    bool grey;
    uint8_t* outputBuffer;  // kOutputBufferSize bytes
    uint8_t* row;           // one row of samples
};

JpegJob* JobOf(j_compress_ptr cinfo) {
    return static_cast<JpegJob*>(cinfo->client_data);
}

extern "C" void OnJpegError(j_common_ptr cinfo) {
    auto* job = static_cast<JpegJob*>(cinfo->client_data);
    (*cinfo->err->format_message)(cinfo, job->message);
    std::longjmp(job->jump, 1);
}

extern "C" void OnJpegMessage(j_common_ptr) {}  // warnings are not shown

extern "C" void InitDestination(j_compress_ptr cinfo) {
    JpegJob* job = JobOf(cinfo);
    cinfo->dest->next_output_byte = job->outputBuffer;
    cinfo->dest->free_in_buffer = kOutputBufferSize;
}

bool SinkWrite(JpegJob* job, size_t size) {
    return job->sink->Write(job->outputBuffer, size);
}

extern "C" boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    JpegJob* job = JobOf(cinfo);
    if (!SinkWrite(job, kOutputBufferSize)) ERREXIT(cinfo, JERR_FILE_WRITE);
    cinfo->dest->next_output_byte = job->outputBuffer;
    cinfo->dest->free_in_buffer = kOutputBufferSize;
    return TRUE;
}

extern "C" void TermDestination(j_compress_ptr cinfo) {
    JpegJob* job = JobOf(cinfo);
    if (!SinkWrite(job, kOutputBufferSize - cinfo->dest->free_in_buffer)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

void FillRow(JpegJob* job, uint32_t y) {
    if (job->grey) {
        RowToIndices(*job->image, y, job->row);
    } else {
        RowToRgb(*job->image, y, job->row);
    }
}

// Everything between jpeg_create_compress and jpeg_destroy_compress. Returns false with
// job->message set when libjpeg reported an error.
bool RunCompression(JpegJob* job) {
    j_compress_ptr cinfo = &job->cinfo;
    cinfo->err = jpeg_std_error(&job->errorManager);
    job->errorManager.error_exit = OnJpegError;
    job->errorManager.output_message = OnJpegMessage;
    if (setjmp(job->jump) != 0) {
        jpeg_destroy_compress(cinfo);
        return false;
    }
    jpeg_create_compress(cinfo);
    cinfo->client_data = job;
    job->destination.init_destination = InitDestination;
    job->destination.empty_output_buffer = EmptyOutputBuffer;
    job->destination.term_destination = TermDestination;
    cinfo->dest = &job->destination;

    const ImageContainer& image = *job->image;
    cinfo->image_width = image.Width();
    cinfo->image_height = image.Height();
    cinfo->input_components = job->grey ? 1 : 3;
    cinfo->in_color_space = job->grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, image.JpegQuality(), FALSE);
    cinfo->optimize_coding = FALSE;
    cinfo->smoothing_factor = 0;
    cinfo->density_unit = 1;  // dots per inch
    cinfo->X_density = ClampDpi16(image.DpiX());
    cinfo->Y_density = ClampDpi16(image.DpiY());

    jpeg_start_compress(cinfo, TRUE);
    JSAMPROW rows[1] = {job->row};
    while (cinfo->next_scanline < cinfo->image_height) {
        FillRow(job, cinfo->next_scanline);
        jpeg_write_scanlines(cinfo, rows, 1);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return true;
}

}  // namespace

bool WriteJpeg(const ImageContainer& image, ByteSink& sink, std::string& error) {
    const bool grey = image.BitsPerPixel() != 24;
    if (grey && !image.IsGreyRamp()) {
        error = texts::kJpegDepth;
        return false;
    }
    std::vector<uint8_t> outputBuffer(kOutputBufferSize);
    std::vector<uint8_t> row(size_t{image.Width()} * (grey ? 1 : 3));
    JpegJob job{};
    job.image = &image;
    job.sink = &sink;
    job.grey = grey;
    job.outputBuffer = outputBuffer.data();
    job.row = row.data();
    if (!RunCompression(&job)) {
        error = job.message;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
