#include <array>

#include "cli/Commands.h"

namespace dravix::cli {

namespace {

const std::array kCommands = {
    CliCommand{"drives", "drives", "list the CD/DVD drives in discovery order", RunDrives},
    CliCommand{"probe", "probe", "check whether the drive is a Zarn drive and which features it offers",
               RunProbe},
    CliCommand{"raw", "raw [--in N | --out HEXFILE] [--timeout S] HEXBYTES...",
               "send one command block and show status, sense and answer", RunRaw},
    CliCommand{"overspeed", "overspeed [on|off --temporary|--permanent]", "show or switch OverSpeed burning",
               RunOverSpeed},
    CliCommand{"lumard",
               "lumard [learned | clean | [--supported on|off] [--unknown on|off] --temporary|--permanent]",
               "show or switch Lumard learning, list or clear the learned discs", RunLumard},
    CliCommand{"testwrite", "testwrite [on|off]", "show or switch Test Write (simulation)", RunTestWrite},
    CliCommand{"wopc", "wopc [on|off]", "show or switch Walking OPC", RunWopc},
    CliCommand{"info", "info", "show the drive and disc information of the Information page", RunInfo},
    CliCommand{"booktype",
               "booktype [set ROW dvd-rom|ROW | set-media dvd-rom|dvd+rw]   (ROW: dvd+rw, dvd+r, dvd+r-dl)",
               "show or change the written book types and the loaded DVD+RW disc's book type", RunBookType},
    CliCommand{"convert", "convert IN OUT", "read a BMP picture and save it in the format of OUT's extension",
               RunConvert},
    CliCommand{"scan",
               "scan --speed S [--mode normal|full|quick|custom] [--start LBA --end LBA] [--csv FILE] "
               "[--image FILE] [--json]",
               "measure TE/FE along the blank disc at a write speed (S: 2.4X..16X or kB/s) and judge it",
               RunScan},
    CliCommand{"smart", "smart [--json]",
               "judge every write speed of the blank disc at its outer-track points (Smart Mode)", RunSmart},
};

}  // namespace

std::span<const CliCommand> AllCommands() {
    return kCommands;
}

}  // namespace dravix::cli
