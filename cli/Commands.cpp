#include "cli/Commands.h"

#include <array>

namespace dravix::cli {

namespace {

using Examples = const char* const[];

constexpr Examples kDrivesExamples = {"dravix-cli drives", "dravix-cli --json drives"};

constexpr Examples kDiagnoseExamples = {"dravix-cli diagnose", "dravix-cli --json diagnose"};

constexpr Examples kProbeExamples = {"dravix-cli probe", "dravix-cli --drive 1 --json probe"};

constexpr CommandOption kRawOptions[] = {
    {"HEXBYTES", "", "the whole command block, two hex digits a byte (blanks between bytes optional)"},
    {"--in", "N", "read N bytes from the drive (at most 1048576)"},
    {"--out", "HEXFILE", "send the hex bytes of HEXFILE to the drive (at most 1048576)", kCompleteFiles},
    {"--timeout", "S", "the command's time-out in seconds (default 30)"},
};
constexpr Examples kRawExamples = {"dravix-cli raw --in 36 12 00 00 00 24 00",
                                   "dravix-cli --json raw 00 00 00 00 00 00"};

constexpr CommandOption kOverSpeedOptions[] = {
    {"on|off", "", "switch OverSpeed burning on or off (asks first; no disc may be in the drive)", "on off"},
    {"--temporary", "", "until the drive restarts"},
    {"--permanent", "", "until it is changed again"},
};
constexpr Examples kOverSpeedExamples = {"dravix-cli overspeed", "dravix-cli --yes overspeed on --temporary"};

constexpr CommandOption kLumardOptions[] = {
    {"learned", "", "list the discs Lumard has learned", "learned clean"},
    {"clean", "", "clear the learned discs (asks first)"},
    {"--supported", "on|off", "learning of supported discs", "on off"},
    {"--unknown", "on|off", "learning of unknown discs", "on off"},
    {"--temporary", "", "until the drive restarts"},
    {"--permanent", "", "until it is changed again"},
};
constexpr Examples kLumardExamples = {"dravix-cli lumard", "dravix-cli lumard learned",
                                      "dravix-cli --yes lumard --unknown off --permanent"};

constexpr CommandOption kSwitchOptions[] = {{"on|off", "", "switch it on or off", "on off"}};
constexpr Examples kTestWriteExamples = {"dravix-cli testwrite", "dravix-cli testwrite on"};
constexpr Examples kWopcExamples = {"dravix-cli wopc", "dravix-cli --json wopc off"};

constexpr Examples kInfoExamples = {"dravix-cli info", "dravix-cli --json info"};

constexpr CommandOption kBookTypeOptions[] = {
    {"set ROW TYPE", "",
     "the book type the drive writes on ROW media (dvd+rw, dvd+r, dvd+r-dl): dvd-rom or ROW",
     "set set-media dvd+rw dvd+r dvd+r-dl dvd-rom"},
    {"set-media TYPE", "", "the book type of the recorded DVD+RW in the drive: dvd-rom or dvd+rw"},
};
constexpr Examples kBookTypeExamples = {"dravix-cli booktype", "dravix-cli booktype set dvd+r dvd-rom",
                                        "dravix-cli --yes booktype set-media dvd-rom"};

constexpr CommandOption kConvertOptions[] = {
    {"IN", "", "a BMP picture", kCompleteFiles},
    {"OUT", "", "the file to write; its extension chooses the format (bmp, gif, jpg, png, tif, ...)"},
};
constexpr Examples kConvertExamples = {"dravix-cli convert chart.bmp chart.png"};

constexpr CommandOption kScanOptions[] = {
    {"--speed", "S", "the write speed: its label (8X) or kB/s (11080), one the disc offers"},
    {"--mode", "M", "normal (default), full, quick or custom", "normal full quick custom"},
    {"--start", "LBA", "custom range: the first LBA"},
    {"--end", "LBA", "custom range: the last LBA (implies --mode custom with --start)"},
    {"--csv", "FILE",
     "write the results file (description, statistics, samples) after the run (also after Ctrl+C)",
     kCompleteFiles},
    {"--image", "FILE", "write the labelled chart after the run; the extension chooses the format",
     kCompleteFiles},
};
constexpr Examples kScanExamples = {"dravix-cli scan --speed 8X",
                                    "dravix-cli scan --speed 16X --mode full --csv scan.csv --image scan.png",
                                    "dravix-cli --json --quiet scan --speed 11080 --start 0 --end 200000"};

constexpr CommandOption kSmartOptions[] = {
    {"--csv", "FILE", "write the report as a results file", kCompleteFiles}};
constexpr Examples kSmartExamples = {"dravix-cli smart", "dravix-cli --json smart",
                                     "dravix-cli smart --csv smart.csv"};

constexpr CommandOption kReadTestOptions[] = {
    {"--mode", "M",
     "transfer (default: the speed curve, its rotation and unreadable sectors), errors (unreadable "
     "sectors and --verify), seek (access times) or benchmark (quick curve, burst rate, access times, "
     "spin-down and spin-up in one table)",
     "transfer errors seek benchmark"},
    {"--load-eject", "",
     "with --mode benchmark: also time eject and load (opens the tray: needs --yes or an answer)"},
    {"--speed", "S", "max (default: the drive's own) or a read speed in X (8X)", "max"},
    {"--quick", "", "read 100 zones of 4 MiB spread over the disc instead of every sector"},
    {"--start", "LBA", "the first LBA to read (default: the first of the data tracks)"},
    {"--end", "LBA", "the last LBA to read (default: the last of the data tracks)"},
    {"--verify", "IMAGE",
     "compare every sector read with this image (an ISO of the data track); not with --quick",
     kCompleteFiles},
    {"--csv", "FILE", "write the results file after the run (also after Ctrl+C)", kCompleteFiles},
    {"--image", "FILE", "write the labelled speed chart after the run; the extension chooses the format",
     kCompleteFiles},
};
constexpr Examples kReadTestExamples = {"dravix-cli readtest", "dravix-cli readtest --quick --speed 8X",
                                        "dravix-cli readtest --mode errors --verify disc.iso --csv read.csv",
                                        "dravix-cli --json readtest --mode seek",
                                        "dravix-cli --yes readtest --mode benchmark --load-eject"};

constexpr CommandOption kWriteTestOptions[] = {
    {"--speed", "S", "max (default: the disc's fastest) or a write speed in X (8X)", "max"},
    {"--length", "MB", "write only the first MB megabytes (default: the whole disc)"},
    {"--csv", "FILE", "write the results file after the run (also after Ctrl+C)", kCompleteFiles},
    {"--image", "FILE", "write the labelled write-speed chart after the run; the extension chooses the format",
     kCompleteFiles},
};
constexpr Examples kWriteTestExamples = {"dravix-cli --yes writetest --length 500",
                                         "dravix-cli --yes --json writetest --speed 8X"};

constexpr CommandOption kCompareOptions[] = {
    {"A B", "", "two results files: of TE/FE scans, of read tests, or of write tests", kCompleteFiles},
    {"--image", "FILE", "also write the chart of A with B laid over it", kCompleteFiles},
};
constexpr Examples kCompareExamples = {"dravix-cli compare brand-a.csv brand-b.csv",
                                       "dravix-cli --json compare 8x.csv 16x.csv",
                                       "dravix-cli compare read-a.csv read-b.csv --image speeds.png"};

constexpr CommandOption kReportOptions[] = {
    {"RESULTS...", "", "results files of scans, Smart reports and read tests", kCompleteFiles},
    {"-o, --output", "FILE", "the HTML file to write", kCompleteFiles},
};
constexpr Examples kReportExamples = {"dravix-cli report scan.csv smart.csv read.csv -o report.html"};

const std::array kCommands = {
    CliCommand{{.name = "drives",
                .synopsis = "",
                .summary = "list the CD/DVD drives in discovery order",
                .options = {},
                .examples = kDrivesExamples},
               RunDrives},
    CliCommand{{.name = "diagnose",
                .synopsis = "",
                .summary = "the drive report for a bug report: version, system, drives, their nodes, "
                           "support and the last commands",
                .options = {},
                .examples = kDiagnoseExamples},
               RunDiagnose},
    CliCommand{{.name = "probe",
                .synopsis = "",
                .summary = "check whether the drive is a Zarn drive and which features it offers",
                .options = {},
                .examples = kProbeExamples},
               RunProbe},
    CliCommand{{.name = "info",
                .synopsis = "",
                .summary = "show the drive and disc information of the Information page",
                .options = {},
                .examples = kInfoExamples},
               RunInfo},
    CliCommand{{.name = "booktype",
                .synopsis = "[set ROW TYPE | set-media TYPE]",
                .summary = "show or change the written book types and the loaded DVD+RW disc's book type",
                .options = kBookTypeOptions,
                .examples = kBookTypeExamples},
               RunBookType},
    CliCommand{{.name = "overspeed",
                .synopsis = "[on|off --temporary|--permanent]",
                .summary = "show or switch OverSpeed burning",
                .options = kOverSpeedOptions,
                .examples = kOverSpeedExamples},
               RunOverSpeed},
    CliCommand{
        {.name = "lumard",
         .synopsis = "[learned | clean | [--supported on|off] [--unknown on|off] --temporary|--permanent]",
         .summary = "show or switch Lumard learning, list or clear the learned discs",
         .options = kLumardOptions,
         .examples = kLumardExamples},
        RunLumard},
    CliCommand{{.name = "testwrite",
                .synopsis = "[on|off]",
                .summary = "show or switch Test Write (simulation)",
                .options = kSwitchOptions,
                .examples = kTestWriteExamples},
               RunTestWrite},
    CliCommand{{.name = "wopc",
                .synopsis = "[on|off]",
                .summary = "show or switch Walking OPC",
                .options = kSwitchOptions,
                .examples = kWopcExamples},
               RunWopc},
    CliCommand{
        {.name = "scan",
         .synopsis = "--speed S [--mode normal|full|quick|custom] [--start LBA --end LBA] [--csv FILE] "
                     "[--image FILE]",
         .summary = "measure TE/FE along the blank disc at a write speed and judge it",
         .options = kScanOptions,
         .examples = kScanExamples},
        RunScan},
    CliCommand{{.name = "smart",
                .synopsis = "[--csv FILE]",
                .summary = "judge every write speed of the blank disc at its outer-track points",
                .options = kSmartOptions,
                .examples = kSmartExamples},
               RunSmart},
    CliCommand{
        {.name = "readtest",
         .synopsis = "[--mode transfer|errors|seek|benchmark] [--load-eject] [--speed max|NX] "
                     "[--quick | --start LBA --end LBA] [--verify IMAGE] [--csv FILE] [--image FILE]",
         .summary = "read a recorded disc back: speed curve, unreadable sectors, verify against an image "
                    "(any drive)",
         .options = kReadTestOptions,
         .examples = kReadTestExamples},
        RunReadTest},
    CliCommand{
        {.name = "writetest",
         .synopsis = "[--speed max|NX] [--length MB] [--csv FILE] [--image FILE]",
         .summary = "write a blank disc in simulation (nothing recorded): write-speed curve, buffer and write "
                    "mode; needs --yes or an answer",
         .options = kWriteTestOptions,
         .examples = kWriteTestExamples},
        RunWriteTest},
    CliCommand{
        {.name = "compare",
         .synopsis = "A.csv B.csv [--image FILE]",
         .summary = "show two scans' TE/FE maxima or two read tests' speeds per zone, and their difference",
         .options = kCompareOptions,
         .examples = kCompareExamples},
        RunCompare},
    CliCommand{{.name = "report",
                .synopsis = "RESULTS... -o FILE",
                .summary = "write results files as one HTML report (charts embedded) for any browser",
                .options = kReportOptions,
                .examples = kReportExamples},
               RunReport},
    CliCommand{{.name = "convert",
                .synopsis = "IN OUT",
                .summary = "read a BMP picture and save it in the format of OUT's extension",
                .options = kConvertOptions,
                .examples = kConvertExamples},
               RunConvert},
    CliCommand{{.name = "raw",
                .synopsis = "[--in N | --out HEXFILE] [--timeout S] HEXBYTES...",
                .summary = "send one command block of your own and show status, sense and answer (experts)",
                .options = kRawOptions,
                .examples = kRawExamples},
               RunRaw},
};

constexpr CommandOption kGlobalOptions[] = {
    {"--virtual", "", "use the virtual drive (creates its state file from the demo preset if needed)"},
    {"--drive", "N", "the drive to use, by its index in 'drives' (default 0)"},
    {"--json", "", "print one JSON object on standard output, also when the command fails"},
    {"--trace", "", "print every command sent to the drive on standard error"},
    {"-y, --yes", "", "answer yes to every question"},
    {"-q, --quiet", "", "show no progress"},
    {"--progress", "", "show progress on standard error also when it is not a terminal"},
    {"-h, --help", "", "show the help (of the command, when one is given) and end"},
    {"--version", "", "show the version and end"},
};

constexpr ExitStatusSpec kExitStatuses[] = {
    {kExitOk, "success"},
    {kExitFailed,
     "failed (or stopped with Ctrl+C, SIGTERM or SIGHUP); for writetest also: the disc was recorded, or "
     "simulation was left on"},
    {kExitUsage, "usage error"},
    {kExitNoDrive,
     "no such drive, drive, feature or disc not supported (for readtest: no disc, a blank or unreadable "
     "disc; for writetest: no blank recordable disc, or a drive that cannot simulate on it), or "
     "drive not ready"},
    {kExitNotRecommended,
     "no speed recommended (scan, smart); unreadable sectors, a difference from the image, or the disc "
     "was not shown to match the image (readtest)"},
};

ProgramSpec MakeProgram() {
    ProgramSpec program{.name = "dravix-cli",
                        .summary = "the scriptable front end of Dravix",
                        .description =
                            "dravix-cli reads and changes the firmware settings of Zarn DVD recorder "
                            "drives, scans blank discs and writes reports, with the texts and "
                            "judgements of the Dravix pages, for scripts and terminals.",
                        .globalOptions = kGlobalOptions,
                        .commands = {},
                        .exitStatuses = kExitStatuses};
    for (const CliCommand& command : kCommands) program.commands.push_back(&command);
    return program;
}

}  // namespace

std::span<const CliCommand> AllCommands() {
    return kCommands;
}

const ProgramSpec& CliProgram() {
    static const ProgramSpec program = MakeProgram();
    return program;
}

std::string ReadAgainCommand(const CliContext& context, const std::string& command) {
    std::string line = "`dravix-cli";
    if (context.Options().virtualDrive) line += " --virtual";
    if (context.Options().drive != "0") line += " --drive " + context.Options().drive;
    return line + " " + command + "`";
}

}  // namespace dravix::cli
