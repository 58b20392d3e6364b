#pragma once

#include <cstdint>
#include <memory>

#include "drive/DriveTable.h"
#include "drive/Scsi.h"

namespace dravix {

// What one platform call to the drive came back with, before SendCommand folds it into 0/1/255.
struct TransportResult {
    enum class Outcome {
        Completed,       // the command ran and the drive reported GOOD
        CheckCondition,  // the drive reported CHECK CONDITION; sense holds its sense
        Failed,          // the call failed or the command did not complete
        TimedOut,        // the platform or the adapter reports a time-out
    };
    Outcome outcome = Outcome::Failed;
    Sense sense;      // CheckCondition, and on the ASPI path whatever the sense area held
    int osError = 0;  // the platform call's error when it failed
    // Failed: the adapter reported an error of its own while the drive gave no status (no BUSY, no
    // CHECK CONDITION): nothing is known of what the drive thinks of the command.
    bool adapterError = false;
    // Completed and CheckCondition: the bytes the data phase moved (for data in, how much of the
    // buffer the drive filled: a read the drive recovered brings its data with its sense), never
    // more than the length asked for; 0 otherwise.
    uint32_t transferred = 0;
};

// One way of reaching the drives: the platform's SCSI pass-through, or an ASPI library.
class TransportPath {
  public:
    virtual ~TransportPath() = default;
    // True for the ASPI library once loaded and its adapters counted; always true for pass-through.
    virtual bool Load() = 0;
    virtual int32_t AdapterCount() const { return 0; }
    // Finds the drives in discovery order and adds them through the target.
    virtual void Enumerate(DiscoveryTarget& target) = 0;
    virtual TransportResult Send(const DriveEntry& entry, const uint8_t* cdb, int cdbLength, int direction,
                                 void* data, uint32_t length, uint32_t timeoutSeconds) = 0;
    virtual void CloseHandle(DriveEntry& entry) = 0;
};

}  // namespace dravix
