#pragma once

#include <QImage>

#include "base/Result.h"
#include "chart/LabelledChart.h"
#include "probix/ResultsFile.h"

namespace dravix {

// A result's curves as the chart draws them.
std::vector<chart_style::CurvePoint> CurvesOf(const ScanResults& results);

// The legend of a result's chart: TE, FE, their limit lines; with a compared result also its
// two dashed curves.
std::vector<LegendEntry> ResultsLegend(const ScanResults* compared = nullptr);

// The labelled picture of a TE/FE result (and of a second one laid over it): header, chart, legend.
QImage RenderResultsPicture(const ScanResults& results, const ScanResults* compared = nullptr);

// Writes that picture through the image writers in the format of the path's extension. Done, or
// why it could not be written. Needs a QGuiApplication.
Result<void> SaveResultsPicture(const std::string& path, const ScanResults& results,
                                const ScanResults* compared = nullptr);

// Writes a picture through the image writers in the format of the path's extension (the target is
// checked first). Done, or why it could not be written.
Result<void> SavePictureFile(const std::string& path, const QImage& picture);

}  // namespace dravix
