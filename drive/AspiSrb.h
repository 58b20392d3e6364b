#pragma once

// Request blocks and codes of the ASPI programming interface, declared from its published layout.
// Shared by the drive layer (the caller) and the virtual drive's library (the callee). Packed, as
// the interface defines them; pointers keep their native width, so the blocks are 80 bytes long on
// 32-bit Windows and somewhat longer on 64-bit systems.

#include <cstdint>

namespace dravix::aspi {

// Command codes (SRB_Cmd).
inline constexpr uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr uint8_t SC_GET_DEV_TYPE = 0x01;
inline constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr uint8_t SC_ABORT_SRB = 0x03;

// Status codes (SRB_Status) and the status byte of GetASPI32SupportInfo.
inline constexpr uint8_t SS_PENDING = 0x00;
inline constexpr uint8_t SS_COMP = 0x01;
inline constexpr uint8_t SS_ABORTED = 0x02;
inline constexpr uint8_t SS_ABORT_FAIL = 0x03;
inline constexpr uint8_t SS_ERR = 0x04;
inline constexpr uint8_t SS_INVALID_HA = 0x81;
inline constexpr uint8_t SS_NO_DEVICE = 0x82;
inline constexpr uint8_t SS_INVALID_SRB = 0xE0;
inline constexpr uint8_t SS_NO_ADAPTERS = 0xE8;

// Flags (SRB_Flags).
inline constexpr uint8_t SRB_DIR_IN = 0x08;
inline constexpr uint8_t SRB_DIR_OUT = 0x10;
inline constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;

// Host adapter status (SRB_HaStat).
inline constexpr uint8_t HASTAT_OK = 0x00;
inline constexpr uint8_t HASTAT_TIMEOUT = 0x09;
inline constexpr uint8_t HASTAT_PHASE_ERROR = 0x14;

// Peripheral device type of a CD/DVD drive.
inline constexpr uint8_t DTYPE_CDROM = 0x05;

inline constexpr int SENSE_LEN = 14;

#pragma pack(push, 1)

struct SRB_Header {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t HA_Count;
    uint8_t HA_SCSI_ID;
    uint8_t HA_ManagerId[16];
    uint8_t HA_Identifier[16];
    uint8_t HA_Unique[16];  // byte 3: the largest number of targets the adapter supports
    uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint8_t SRB_DeviceType;
    uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;  // written last by the library when the command ends
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc;
    uint8_t SRB_Rsvd2[20];
    uint8_t CDBByte[16];
    uint8_t SenseArea[SENSE_LEN + 2];
};

struct SRB_Abort {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    void* SRB_ToAbort;  // the execute request to end
};

#pragma pack(pop)

// The interface has no field for the bytes a command moved. The project's own library (the
// virtual drive) names itself with this manager id in SC_HA_INQUIRY and, when an execute request
// ends, rewrites its SRB_BufLen with the bytes the data phase moved. Another manager leaves the
// field alone, so its callers can only assume that the whole buffer was moved.
inline constexpr char kCountingManagerId[16] = {'D', 'R', 'A', 'V', 'I', 'X', ' ', 'V',
                                                'D', 'R', 'I', 'V', 'E', ' ', ' ', ' '};

static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(sizeof(SRB_GDEVBlock) == 12);
static_assert(sizeof(SRB_Abort) == 8 + sizeof(void*));
static_assert(sizeof(SRB_ExecSCSICmd) == 72 + 2 * sizeof(void*));

// Entry points exported by an ASPI library.
#if defined(_WIN32)
#define DRAVIX_ASPI_CALL __cdecl
#else
#define DRAVIX_ASPI_CALL
#endif
using GetSupportInfoFn = uint32_t(DRAVIX_ASPI_CALL*)();
using SendCommandFn = uint32_t(DRAVIX_ASPI_CALL*)(void* srb);

inline constexpr const char* kSupportInfoName = "GetASPI32SupportInfo";
inline constexpr const char* kSendCommandName = "SendASPI32Command";

// The project's own library (the virtual drive) has no event to signal where the platform has
// none, so it exports a completion of its own: the call returns once the execute request has left
// SS_PENDING, or when `milliseconds` have passed (0: no limit), with its status byte. A caller
// then waits without polling. Other libraries lack it and are polled.
using WaitCommandFn = uint32_t(DRAVIX_ASPI_CALL*)(void* srb, uint32_t milliseconds);
inline constexpr const char* kWaitCommandName = "DravixWaitASPI32Command";

}  // namespace dravix::aspi
