#include "ui/WebConfig.h"

namespace dravix {

namespace {

// Change the addresses here: nothing else in the program spells them out.
constexpr char kMainSite[] = "https://www.zarn-globe.com";
constexpr char kSupportSite[] = "https://www.zarn-globe.com/manual";

}  // namespace

QString MakerMainSite() {
    return QString::fromLatin1(kMainSite);
}
QString MakerSupportSite() {
    return QString::fromLatin1(kSupportSite);
}

}  // namespace dravix
