// Command sequences on the virtual drive: random command blocks, directions, buffer lengths and
// data, mixed with tray handling and power cycles, each answer checked (fuzz/VirtualDriveFuzz.h).
//
// Input: three bytes choose the drive (kind; disc, 0 none; flags: vendor mode, tray open, no
// DVD+R DL writing, pending power-on and medium-change attentions), then records of
//   [length | direction << 5] [buffer length, 2 bytes big-endian] [data length] CDB data
// where a length of 31 is no command but a tray or power action chosen by the next byte.

#include <algorithm>
#include <span>

#include "emu/Media.h"
#include "emu/VirtualDrive.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/VirtualDriveFuzz.h"

namespace {

using namespace dravix;

constexpr size_t kMaxCommands = 64;
constexpr uint8_t kActionLength = 31;

class Input {
  public:
    explicit Input(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    bool Empty() const { return m_bytes.empty(); }
    uint8_t Byte() {
        if (m_bytes.empty()) return 0;
        const uint8_t b = m_bytes.front();
        m_bytes = m_bytes.subspan(1);
        return b;
    }
    std::span<const uint8_t> Bytes(size_t count) {
        const std::span<const uint8_t> taken = m_bytes.first(std::min(count, m_bytes.size()));
        m_bytes = m_bytes.subspan(taken.size());
        return taken;
    }

  private:
    std::span<const uint8_t> m_bytes;
};

const emu::MediaInfo& MediaAt(uint8_t index) {
    const auto catalogue = emu::MediaCatalogue();
    return catalogue[index % catalogue.size()];
}

void Act(emu::VirtualDrive& drive, uint8_t action) {
    switch (action) {
        case 0:
            return drive.Eject();
        case 1:
            return drive.Load();
        case 2:
            return drive.Restart();
        case 3:
            return drive.RemoveDisc();
        default:
            FUZZ_CHECK(drive.Insert(MediaAt(action - 4).name));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input input(std::span<const uint8_t>(data, size));
    const uint8_t kind = input.Byte();
    const uint8_t disc = input.Byte();
    const uint8_t flags = input.Byte();

    emu::VirtualDrive drive(static_cast<emu::DriveKind>(kind % 3));
    fuzz::MakeTimeless(drive);
    drive.Update([&](emu::DriveState& s) {
        if (disc != 0) s.disc = emu::Disc{MediaAt(disc - 1).name, MediaAt(disc - 1).bookType};
        s.vendorMode = flags & 0x01;
        s.trayOpen = flags & 0x02;
        s.writesDvdPlusRDl = !(flags & 0x04);
        if (flags & 0x08) s.pendingAttention = 0x29;
        if (flags & 0x10) s.pendingAttention = 0x28;
    });

    for (size_t n = 0; n < kMaxCommands && !input.Empty(); ++n) {
        const uint8_t head = input.Byte();
        const size_t cdbLength = head & 0x1F;
        const int direction = head >> 5;
        if (cdbLength == kActionLength) {
            Act(drive, input.Byte());
            continue;
        }
        const uint32_t bufferLength = (uint32_t{input.Byte()} << 8) | input.Byte();
        const size_t dataLength = input.Byte();
        const std::span<const uint8_t> cdb = input.Bytes(std::min<size_t>(cdbLength, 16));
        const std::span<const uint8_t> outData = input.Bytes(dataLength);
        fuzz::RunCheckedCommand(drive, cdb, cdbLength, direction, bufferLength, outData);
    }
    return 0;
}
