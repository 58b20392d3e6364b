#pragma once

namespace dravix {

// Which way a command's data goes: the direction argument of DriveTable::SendCommand and of the
// virtual drive's Execute. Any other value means "no data phase".
enum TransferDirection : int {
    kNoData = 0,
    kDataOut = 1,  // data to the drive
    kDataIn = 2,   // data from the drive
};

}  // namespace dravix
