#pragma once

#include <QString>

namespace dravix {

// The maker's web addresses, the only outside values the program knows besides its help file.
// The About box and the not-supported dialog show them as links; each is shown exactly as it is
// opened, so they are kept short enough for the links of those small dialogs.
QString MakerMainSite();     // the maker's home page
QString MakerSupportSite();  // where the user manual can be downloaded

}  // namespace dravix
