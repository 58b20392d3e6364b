#include "res/StringTable.h"

namespace dravix {

namespace {

struct Entry {
    int id;
    const char* text;  // UTF-8
};

// clang-format off
constexpr Entry kStrings[] = {
    {101, "關於 ZARNTool(&A)..."},
    {104, "This drive is not supported"},
    {105, "Incorrect media format; please insert a DVD disc"},
    {106, "The drive is empty; please insert a DVD disc"},
    {107, "Changes made to the writing book type of the DVD writer will apply to NEW media only.  \r\n"
          "If modifying the book type of a previously recorded DVD+RW disc, \r\n"
          "please use the \"Modify\" option in \"Media Status\" below."},
    {108, "Changes made to the writing book type of the DVD writer will apply to NEW media only.  \r\n"
          "Keep in mind that once recorded, the book type of a DVD+R disc CANNOT be modified."},
    {109, "Changes made to the writing book type of the DVD writer will apply to NEW media only.  \r\n"
          "Keep in mind that once recorded, the book type of a DVD+R DL disc CANNOT be modified."},
    {110, "Check the book type of the DVD disc in your drive"},
    {111, "Check the current writing book type of the DVD writer"},
    {112, "Current writing book type of the DVD writer for DVD+RW media will be changed from DVD+RW to DVD-ROM"},
    {113, "Current writing book type of the DVD writer for DVD+RW media will be changed from DVD-ROM to DVD+RW"},
    {114, "Current writing book type of the DVD writer for DVD+R media will be changed from DVD+R to DVD-ROM"},
    {115, "Current writing book type of the DVD writer for DVD+R media will be changed from DVD-ROM to DVD+R"},
    {116, "Current writing book type of the DVD writer for DVD+R DL media will be changed from DVD+R DL to DVD-ROM\n"},
    {117, "Current writing book type of the DVD writer for DVD+R DL media will be changed from DVD-ROM to DVD+R DL\n"},
    {118, "Book type of the loaded DVD+RW disc will be changed from DVD+RW to DVD-ROM"},
    {119, "Book type of the loaded DVD+RW disc will be changed from DVD-ROM to DVD+RW"},
    {120, "*Note* \n\n"
          "1. When WOPC (Walking Optimal Power Control) is enabled (by default), laser\n"
          "    power will be dynamically adjusted according to disc condition. During power\n"
          "    adjustment, the drive will pause for some nano-seconds.\n\n"
          "2. There are two scenarios where WOPC can be disabled. But the writing quality\n"
          "    CANNOT be guaranteed. Please use at your own responsibility:\n\n"
          "   (1) With superb and defect-free media, WOPC can be disabled to reduce burning\n"
          "         time. To check blank media quality, use Probix.\n"
          "   (2) With low-speed (<4x) and poor-quality DVD-R media, WOPC can be disabled\n"
          "         to increase successful burning rate. \n\n"
          "3. After WOPC is disabled, the drive WOPC mechanism will remain disabled unless\n"
          "    rebooted. ALWAYS check current WOPC setting before you burn any other discs!"},
    {121, "*Note*\n\n"
          "1. Because of defined DVD+R/+RW/+R DL technical spec, current DVD burning\n"
          "    software does not support simulation writing of these media. When you enable\n"
          "    Test Write, you can use whatever DVD burning software to simulate burning on\n"
          "    DVD+R/+RW/+R DL. \n\n"
          "2. The   purpose  of   this  tool  is  to  help  you  simulating  whether the data can be\n"
          "    successfully  burnt  onto  the disc. That  means,  when  burning  software  reports\n"
          "    whether burning is successful or failed under Test Write enabled mode, Test Write\n"
          "    has done its job. There will be no other messages shown.\n\n"
          "3. Please do not choose data verification under simulation mode. Since  there  are  no\n"
          "    data written on the disc, such action could cause \xE2\x80\x9Cread error\xE2\x80\x9D message or long \n"
          "    verification time."},
    {127, "Five types of TE/FE graph density available."},
    {128, "Shows all available speeds of the disc supported by the drive."},
    {129, "(1) Minimum: 0, (2) End - Start >= 150000"},
    {130, "(1) Maximum: 2621440, (2) (End > Start) and (End - Start >= 150000)"},
    {131, "Enable/disable TE/FE criteria on the graph."},
    {132, "4. Because  PC  will  store  temporary  file  images  in  the system,  after  simulation\n"
          "    completed, suggest to refresh system information by pressing \xE2\x80\x9C" "F5\xE2\x80\x9D, or  doing\n"
          "    tray in/out  to  clear  those images from the system. This  will make sure  you  are\n"
          "    reading the correct disc status. \n\n"
          "5. The drive will remain writing data in simulation mode unless rebooted. ALWAYS\n"
          "    check current Test Write setting before burning any data. Remind you that NEVER\n"
          "    erase data from hard disk before making sure they are successfully recorded on the\n"
          "    disc."},
    {133, "This change is only temporary. After re-starting the computer, the previous setting will be restored."},
    {134, "After re-starting the computer,  this change of setting remains valid."},
    {135, "*Note* \n\nOverSpeed Burning makes it possible to write a 4x or 8x DVD+/-R disc at 8x or higher speeds."},
};
// clang-format on

}  // namespace

const char* StringText(int id) {
    for (const Entry& e : kStrings) {
        if (e.id == id) return e.text;
    }
    return "";
}

}  // namespace dravix
