#pragma once

#include "export/ImageContainer.h"

namespace dravix::bench {

// A 1920 × 1080 24-bit picture shaped like a capture of the main window: flat panels and
// frames, a gradient banner, a chart with grid and two curves, and text-like speckle.
ImageContainer MakeCaptureImage();

}  // namespace dravix::bench
