#include "fuzz/AnswerFuzz.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "drive/Scsi.h"
#include "fuzz/FuzzCheck.h"
#include "tests/support/FakeSgSystem.h"
#include "tests/support/TestPlatform.h"

namespace dravix::fuzz {

namespace {

constexpr size_t kHeaderLength = 4;
constexpr unsigned char kDidTimeOut = 0x03;
constexpr unsigned char kDriverSense = 0x08;
// Vendor 8, product 16, revision 4: a drive of the maker, as the virtual drive names itself.
constexpr char kIdentity[] = "ZARN    DVD-RW DRX-8000 1.05";

}  // namespace

std::optional<AnswerInput> ParseAnswerInput(const uint8_t* data, size_t size) {
    if (size < kHeaderLength) return std::nullopt;
    AnswerInput input;
    input.which = data[0];
    switch (data[1] & 0x07) {
        case 1:
            input.answer.ending = ScriptedAnswer::Ending::CheckCondition;
            break;
        case 2:
            input.answer.ending = ScriptedAnswer::Ending::TimedOut;
            break;
        case 3:
            input.answer.ending = ScriptedAnswer::Ending::Busy;
            break;
        case 4:
            input.answer.ending = ScriptedAnswer::Ending::IoctlError;
            break;
        default:
            input.answer.ending = ScriptedAnswer::Ending::Completed;
            break;
    }
    input.answer.senseLength = size_t{static_cast<uint8_t>(data[1] >> 3)} * 2;
    input.answer.transferred = static_cast<int16_t>((data[2] << 8) | data[3]);
    input.answer.bytes = std::span<const uint8_t>(data + kHeaderLength, size - kHeaderLength);
    return input;
}

struct AnsweringDrive::Device {
    ScriptedAnswer answer;
    bool scriptInquiry = false;
    bool withUnsentBytes = true;

    int operator()(sg_io_hdr_t& r) const {
        auto* buffer = static_cast<uint8_t*>(r.dxferp);
        const size_t length = buffer != nullptr ? r.dxfer_len : 0;
        if (r.cmdp[0] == 0x12 && !scriptInquiry) {
            const size_t n = std::min(length, size_t{36});
            std::memset(buffer, 0, n);
            std::memcpy(buffer + 8, kIdentity, std::min(n > 8 ? n - 8 : 0, sizeof kIdentity - 1));
            r.resid = static_cast<int>(length - n);
            return 0;
        }
        // What lands in the buffer: everything the answer holds, or only what the drive says it sent.
        size_t written = std::min(answer.bytes.size(), length);
        if (!withUnsentBytes) written = std::min<size_t>(written, std::max<int32_t>(answer.transferred, 0));
        if (written != 0) std::memcpy(buffer, answer.bytes.data(), written);
        switch (answer.ending) {
            case ScriptedAnswer::Ending::Completed:
                r.resid = static_cast<int>(static_cast<int64_t>(length) - answer.transferred);
                return 0;
            case ScriptedAnswer::Ending::CheckCondition: {
                const size_t n = std::min({answer.senseLength, answer.bytes.size(), size_t{r.mx_sb_len}});
                if (n != 0) std::memcpy(r.sbp, answer.bytes.data(), n);
                r.sb_len_wr = static_cast<unsigned char>(n);
                r.status = kScsiCheckCondition;
                r.driver_status = kDriverSense;
                return 0;
            }
            case ScriptedAnswer::Ending::TimedOut:
                r.host_status = kDidTimeOut;
                return 0;
            case ScriptedAnswer::Ending::Busy:
                r.status = kScsiBusy;
                return 0;
            case ScriptedAnswer::Ending::IoctlError:
                return -EIO;
        }
        return -EIO;
    }
};

AnsweringDrive::AnsweringDrive() : m_device(std::make_shared<Device>()) {
    auto os = std::make_shared<test::FakeSgSystem>();
    os->AddDrive(
        0, [device = m_device](sg_io_hdr_t& r) { return (*device)(r); }, 0);
    auto platform = std::make_shared<test::TestPlatform>();
    platform->sg = os;
    m_table = std::make_unique<DriveTable>(DriveServices{platform, {}});
    FUZZ_CHECK(m_table->InitTransport());
    BringDriveIn();
}

AnsweringDrive::~AnsweringDrive() = default;

void AnsweringDrive::BringDriveIn() {
    m_device->scriptInquiry = false;
    FUZZ_CHECK(m_table->EnumerateDrives() == 1);
}

Decoded AnsweringDrive::Run(const ScriptedAnswer& answer, const std::function<Decoded(DriveTable&)>& decode,
                            const std::function<size_t()>& needed) {
    m_device->answer = answer;
    Decoded results[2];
    for (int pass = 0; pass < 2; ++pass) {
        m_device->withUnsentBytes = pass == 0;
        m_device->scriptInquiry = m_scriptInquiry;
        results[pass] = decode(*m_table);
        const Decoded& result = results[pass];
        if (answer.ending != ScriptedAnswer::Ending::Completed)
            FUZZ_CHECK(result.status != kCommandCompleted);
        // A sense key is four bits, whatever the sense bytes held.
        FUZZ_CHECK(m_table->SenseKey() <= 0x0F);
        if (result.status == kCommandCompleted) FUZZ_CHECK(m_table->LastTransferred() >= needed());
    }
    const bool alike = results[0].status == results[1].status && results[0].values == results[1].values;
    if (!alike) {
        std::fprintf(stderr, "bytes the drive did not send changed the answer:\n  %u %s\n  %u %s\n",
                     results[0].status, results[0].values.c_str(), results[1].status,
                     results[1].values.c_str());
    }
    FUZZ_CHECK(alike);
    if (m_scriptInquiry || m_table->DriveCount() != 1) BringDriveIn();
    return results[1];
}

AnsweringDrive& SharedAnsweringDrive() {
    static AnsweringDrive drive;
    return drive;
}

void Note(std::string& values, const char* name, const std::string& value) {
    values.append(name).append("=").append(value).append(";");
}

void Note(std::string& values, const char* name, long long value) {
    Note(values, name, std::to_string(value));
}

}  // namespace dravix::fuzz
