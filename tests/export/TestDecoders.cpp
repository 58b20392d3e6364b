#include "TestDecoders.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "export/ByteSink.h"

namespace dravix::test {

std::array<uint8_t, 3> RgbImage::At(uint32_t x, uint32_t y) const {
    const size_t i = (size_t{y} * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
}

RgbImage ToRgb(const ImageContainer& image) {
    RgbImage out{image.Width(), image.Height(), {}};
    out.rgb.reserve(size_t{out.width} * out.height * 3);
    for (uint32_t y = 0; y < out.height; ++y) {
        for (uint32_t x = 0; x < out.width; ++x) {
            const RgbQuad c = image.GetPixelColour(x, y);
            out.rgb.insert(out.rgb.end(), {c.red, c.green, c.blue});
        }
    }
    return out;
}

int MaxChannelDifference(const RgbImage& a, const RgbImage& b) {
    if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
    int worst = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i)
        worst = std::max(worst, std::abs(int{a.rgb[i]} - int{b.rgb[i]}));
    return worst;
}

void FillTestPattern(ImageContainer& image) {
    for (uint32_t y = 0; y < image.Height(); ++y) {
        for (uint32_t x = 0; x < image.Width(); ++x) {
            RgbQuad c;
            if ((x / 8 + y / 8) % 5 == 0) {
                c = RgbQuad{30, 200, 240, 0};  // blocks of one colour
            } else {
                c = RgbQuad{static_cast<uint8_t>(x * 3 + y), static_cast<uint8_t>(y * 2),
                            static_cast<uint8_t>(128 + x - y), 0};
            }
            image.SetPixelColour(x, y, c);
        }
    }
}

std::vector<uint8_t> EncodeToMemory(ImageContainer& image, ImageType type) {
    MemorySink sink;
    if (!image.Encode(&sink, type)) return {};
    return sink.TakeBytes();
}

// ---------------------------------------------------------------- GIF

namespace {

class Reader {
  public:
    explicit Reader(const std::vector<uint8_t>& bytes) : m_bytes(bytes) {}
    bool Has(size_t n) const { return m_bytes.size() - m_pos >= n; }
    uint8_t U8() { return m_bytes[m_pos++]; }
    uint16_t Le16() {
        const uint16_t v = static_cast<uint16_t>(m_bytes[m_pos] | (m_bytes[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    void Take(size_t n, std::vector<uint8_t>& out) {
        out.insert(out.end(), m_bytes.begin() + static_cast<long>(m_pos),
                   m_bytes.begin() + static_cast<long>(m_pos + n));
        m_pos += n;
    }
    size_t Pos() const { return m_pos; }

  private:
    const std::vector<uint8_t>& m_bytes;
    size_t m_pos = 0;
};

bool ReadSubBlocks(Reader& in, std::vector<uint8_t>& data, size_t& largest) {
    for (;;) {
        if (!in.Has(1)) return false;
        const uint8_t length = in.U8();
        if (length == 0) return true;
        if (!in.Has(length)) return false;
        largest = std::max<size_t>(largest, length);
        in.Take(length, data);
    }
}

// The textbook GIF decoder: the table grows one entry per code after the first, the width grows
// when the next entry reaches the current width's limit.
bool LzwDecode(const std::vector<uint8_t>& data, GifFrame& frame, std::string& why) {
    const unsigned clear = 1u << frame.minCodeSize;
    const unsigned eoi = clear + 1;
    unsigned width = frame.minCodeSize + 1;
    unsigned next = clear + 2;
    std::vector<uint16_t> prefix(4096);
    std::vector<uint8_t> suffix(4096);
    std::vector<uint8_t> first(4096);
    for (unsigned i = 0; i < clear; ++i) {
        suffix[i] = static_cast<uint8_t>(i);
        first[i] = static_cast<uint8_t>(i);
    }
    size_t bitPos = 0;
    int previous = -1;
    bool sawCode = false;
    std::vector<uint8_t> string;
    auto emit = [&](unsigned code) {
        string.clear();
        while (code >= clear) {
            string.push_back(suffix[code]);
            code = prefix[code];
        }
        string.push_back(static_cast<uint8_t>(code));
        frame.indices.insert(frame.indices.end(), string.rbegin(), string.rend());
    };
    for (;;) {
        if (bitPos + width > data.size() * 8) {
            why = "LZW data ends without end code";
            return false;
        }
        unsigned code = 0;
        for (unsigned b = 0; b < width; ++b, ++bitPos) {
            code |= ((data[bitPos / 8] >> (bitPos % 8)) & 1u) << b;
        }
        frame.widestCode = std::max(frame.widestCode, width);
        if (!sawCode) {
            frame.firstCodeWasClear = code == clear;
            sawCode = true;
        }
        if (code == clear) {
            if (bitPos > width) ++frame.clearCodes;
            width = frame.minCodeSize + 1;
            next = clear + 2;
            previous = -1;
            continue;
        }
        if (code == eoi) {
            frame.endedWithEoi = true;
            // Only the padding of the last byte may follow.
            if ((bitPos + 7) / 8 != data.size()) {
                why = "bytes after the end code";
                return false;
            }
            return true;
        }
        if (previous < 0) {
            if (code >= clear) {
                why = "first code after clear is not a root";
                return false;
            }
            emit(code);
            previous = static_cast<int>(code);
            continue;
        }
        uint8_t head = 0;
        if (code < next) {
            emit(code);
            head = first[code];
        } else if (code == next) {
            head = first[static_cast<unsigned>(previous)];
            emit(static_cast<unsigned>(previous));
            frame.indices.push_back(head);
        } else {
            why = "code beyond the table";
            return false;
        }
        if (next < 4096) {
            prefix[next] = static_cast<uint16_t>(previous);
            suffix[next] = head;
            first[next] = first[static_cast<unsigned>(previous)];
            ++next;
            if (next == (1u << width) && width < 12) ++width;
        }
        previous = static_cast<int>(code);
    }
}

}  // namespace

bool DecodeGif(const std::vector<uint8_t>& bytes, GifFile& gif, std::string& why) {
    Reader in(bytes);
    if (!in.Has(13) || std::string(bytes.begin(), bytes.begin() + 6) != "GIF89a") {
        why = "no GIF89a header";
        return false;
    }
    for (int i = 0; i < 6; ++i) in.U8();
    gif.width = in.Le16();
    gif.height = in.Le16();
    gif.packed = in.U8();
    in.U8();
    in.U8();
    if (gif.packed & 0x80) {
        const size_t entries = size_t{2} << (gif.packed & 7);
        if (!in.Has(entries * 3)) return false;
        in.Take(entries * 3, gif.globalTable);
    }
    gif.canvas = RgbImage{gif.width, gif.height, std::vector<uint8_t>(size_t{gif.width} * gif.height * 3, 0)};
    std::vector<uint8_t> pendingControl;
    while (in.Has(1)) {
        const uint8_t kind = in.U8();
        if (kind == 0x3B) {
            gif.trailer = true;
            return !in.Has(1) || (why = "bytes after the trailer", false);
        }
        if (kind == 0x21) {
            if (!in.Has(1)) return false;
            const uint8_t label = in.U8();
            std::vector<uint8_t> data;
            size_t largest = 0;
            if (!ReadSubBlocks(in, data, largest)) return false;
            if (label == 0xFE) gif.comments.emplace_back(data.begin(), data.end());
            if (label == 0xF9) {
                pendingControl = {0x21, 0xF9, static_cast<uint8_t>(data.size())};
                pendingControl.insert(pendingControl.end(), data.begin(), data.end());
                pendingControl.push_back(0);
            }
            continue;
        }
        if (kind != 0x2C || !in.Has(9)) {
            why = "unexpected block";
            return false;
        }
        GifFrame frame;
        frame.left = in.Le16();
        frame.top = in.Le16();
        frame.width = in.Le16();
        frame.height = in.Le16();
        frame.packed = in.U8();
        frame.controlExtension = std::move(pendingControl);
        pendingControl.clear();
        if (frame.packed & 0x80) {
            const size_t entries = size_t{2} << (frame.packed & 7);
            if (!in.Has(entries * 3)) return false;
            in.Take(entries * 3, frame.localTable);
        }
        if (!in.Has(1)) return false;
        frame.minCodeSize = in.U8();
        std::vector<uint8_t> data;
        if (!ReadSubBlocks(in, data, gif.largestSubBlock)) return false;
        if (!LzwDecode(data, frame, why)) return false;
        if (frame.indices.size() != size_t{frame.width} * frame.height) {
            why = "pixel count differs from the frame size";
            return false;
        }
        const std::vector<uint8_t>& table = frame.localTable.empty() ? gif.globalTable : frame.localTable;
        for (uint32_t y = 0; y < frame.height; ++y) {
            for (uint32_t x = 0; x < frame.width; ++x) {
                const size_t index = frame.indices[size_t{y} * frame.width + x];
                const uint32_t cx = frame.left + x;
                const uint32_t cy = frame.top + y;
                if (cx >= gif.width || cy >= gif.height || index * 3 + 2 >= table.size()) {
                    why = "frame pixel outside the screen or the table";
                    return false;
                }
                std::copy_n(table.begin() + static_cast<long>(index * 3), 3,
                            gif.canvas.rgb.begin() + static_cast<long>((size_t{cy} * gif.width + cx) * 3));
            }
        }
        gif.frames.push_back(std::move(frame));
    }
    why = "no trailer";
    return false;
}

// ---------------------------------------------------------------- PCX

bool DecodePcx(const std::vector<uint8_t>& bytes, PcxFile& pcx, std::string& why) {
    if (bytes.size() < 128 || bytes[0] != 10) {
        why = "no PCX header";
        return false;
    }
    pcx.header.assign(bytes.begin(), bytes.begin() + 128);
    auto le16 = [&](size_t at) { return unsigned(bytes[at] | (bytes[at + 1] << 8)); };
    pcx.width = le16(8) - le16(4) + 1;
    pcx.height = le16(10) - le16(6) + 1;
    pcx.bitsPerPlane = bytes[3];
    pcx.planes = bytes[65];
    pcx.bytesPerLine = le16(66);
    size_t pos = 128;
    std::vector<std::vector<uint8_t>> lines;  // decoded plane lines
    for (uint32_t y = 0; y < pcx.height; ++y) {
        for (unsigned p = 0; p < pcx.planes; ++p) {
            std::vector<uint8_t> line;
            const size_t start = pos;
            while (line.size() < pcx.bytesPerLine) {
                if (pos >= bytes.size()) {
                    why = "coded data ends early";
                    return false;
                }
                const uint8_t b = bytes[pos++];
                if (b >= 0xC0) {
                    if (pos >= bytes.size()) return false;
                    line.insert(line.end(), b & 0x3F, bytes[pos++]);
                } else {
                    line.push_back(b);
                }
            }
            if (line.size() != pcx.bytesPerLine) {
                why = "a run crosses the end of a plane line";
                return false;
            }
            pcx.coded.emplace_back(bytes.begin() + static_cast<long>(start),
                                   bytes.begin() + static_cast<long>(pos));
            lines.push_back(std::move(line));
        }
    }
    std::vector<uint8_t> palette;  // red, green, blue
    if (pcx.bitsPerPlane == 8 && pcx.planes == 1) {
        if (bytes.size() - pos != 769 || bytes[pos] != 12) {
            why = "no 256-colour palette trailer";
            return false;
        }
        palette.assign(bytes.begin() + static_cast<long>(pos + 1), bytes.end());
    } else {
        if (pos != bytes.size()) {
            why = "bytes after the image";
            return false;
        }
        palette.assign(bytes.begin() + 16, bytes.begin() + 64);
    }
    pcx.image = RgbImage{pcx.width, pcx.height, {}};
    for (uint32_t y = 0; y < pcx.height; ++y) {
        const size_t first = size_t{y} * pcx.planes;
        for (uint32_t x = 0; x < pcx.width; ++x) {
            if (pcx.bitsPerPlane == 8 && pcx.planes == 3) {
                pcx.image.rgb.insert(pcx.image.rgb.end(),
                                     {lines[first][x], lines[first + 1][x], lines[first + 2][x]});
                continue;
            }
            unsigned index = 0;
            if (pcx.bitsPerPlane == 8) {
                index = lines[first][x];
            } else {
                for (unsigned p = 0; p < pcx.planes; ++p)
                    index |= ((lines[first + p][x / 8] >> (7 - x % 8)) & 1u) << p;
            }
            pcx.image.rgb.insert(pcx.image.rgb.end(), palette.begin() + index * 3,
                                 palette.begin() + index * 3 + 3);
        }
    }
    return true;
}

// ---------------------------------------------------------------- TGA

bool DecodeTga(const std::vector<uint8_t>& bytes, RgbImage& image, std::string& why) {
    if (bytes.size() < 18) {
        why = "short header";
        return false;
    }
    auto le16 = [&](size_t at) { return unsigned(bytes[at] | (bytes[at + 1] << 8)); };
    const unsigned idLength = bytes[0];
    const unsigned mapType = bytes[1];
    const unsigned type = bytes[2];
    const unsigned mapLength = le16(5);
    const unsigned mapEntryBits = bytes[7];
    image.width = le16(12);
    image.height = le16(14);
    const unsigned depth = bytes[16];
    if (bytes[17] != 0 || (type != 1 && type != 2) || (mapType == 1 && mapEntryBits != 24)) {
        why = "unsupported TGA form";
        return false;
    }
    size_t pos = 18 + idLength;
    std::vector<uint8_t> map;  // blue, green, red
    if (mapType == 1) {
        map.assign(bytes.begin() + static_cast<long>(pos),
                   bytes.begin() + static_cast<long>(pos + mapLength * 3));
        pos += mapLength * 3;
    }
    const size_t bytesPerPixel = depth / 8;
    if (bytes.size() - pos != size_t{image.width} * image.height * bytesPerPixel) {
        why = "pixel data size differs";
        return false;
    }
    image.rgb.assign(size_t{image.width} * image.height * 3, 0);
    for (uint32_t row = 0; row < image.height; ++row) {
        const uint32_t y = image.height - 1 - row;  // bottom-left origin
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint8_t* p = &bytes[pos + (size_t{row} * image.width + x) * bytesPerPixel];
            const uint8_t* bgr = type == 1 ? &map[size_t{p[0]} * 3] : p;
            uint8_t* out = &image.rgb[(size_t{y} * image.width + x) * 3];
            out[0] = bgr[2];
            out[1] = bgr[1];
            out[2] = bgr[0];
        }
    }
    return true;
}

// ---------------------------------------------------------------- files

std::string TempPath(const std::string& name) {
    const char* base = std::getenv("TMPDIR");
    return std::string(base ? base : "/tmp") + "/dravix_export_" + std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace dravix::test
