#include "picture/ResultsPicture.h"

#include "base/SafeFile.h"
#include "export/ImageContainer.h"
#include "export/ImageType.h"
#include "probix/MeasuredRange.h"

namespace dravix {

std::vector<chart_style::CurvePoint> CurvesOf(const ScanResults& results) {
    std::vector<chart_style::CurvePoint> points;
    points.reserve(results.samples.size());
    for (const ScanSample& s : results.samples)
        points.push_back(
            {static_cast<double>(s.lba), static_cast<double>(s.tePercent), static_cast<double>(s.fePercent)});
    return points;
}

std::vector<LegendEntry> ResultsLegend(const ScanResults* compared) {
    std::vector<LegendEntry> legend = {
        {chart_style::kTeColour, QStringLiteral("TE (Tracking Error)"), false},
        {chart_style::kFeColour, QStringLiteral("FE (Focus Error)"), false},
        {chart_style::kTeColour, QStringLiteral("TE limit %1 %").arg(kTeLimitPercent), true},
        {chart_style::kFeColour, QStringLiteral("FE limit %1 %").arg(kFeLimitPercent), true},
    };
    if (compared != nullptr) {
        const QString name = QString::fromStdString(ResultsShortName(*compared));
        legend.push_back({chart_style::kTeColour, QStringLiteral("TE of ") + name, false, true});
        legend.push_back({chart_style::kFeColour, QStringLiteral("FE of ") + name, false, true});
    }
    return legend;
}

QImage RenderResultsPicture(const ScanResults& results, const ScanResults* compared) {
    LabelledChart picture;
    for (const std::string& line : ResultsHeaderLines(results))
        picture.header << QString::fromStdString(line);
    if (compared != nullptr) {
        picture.header << QStringLiteral("Compared with: %1 (%2)")
                              .arg(QString::fromStdString(ResultsShortName(*compared)),
                                   QString::fromStdString(compared->verdictText));
    }
    picture.legend = ResultsLegend(compared);
    const LbaSpan axis = ChartAxisLbas(results, compared);
    picture.xLower = axis.first;
    picture.xUpper = axis.last;
    picture.teLimit = kTeLimitPercent;
    picture.feLimit = kFeLimitPercent;
    picture.curves = CurvesOf(results);
    if (compared != nullptr) picture.compared = CurvesOf(*compared);
    return RenderLabelledChart(picture);
}

Result<void> SavePictureFile(const std::string& path, const QImage& rendered) {
    if (const FileResult writable = CheckWritableTarget(path); !writable.Ok())
        return Error{writable.WriteMessage(path)};
    const QImage picture = rendered.convertToFormat(QImage::Format_RGB32);
    ImageContainer image;
    if (!image.Create(static_cast<uint32_t>(picture.width()), static_cast<uint32_t>(picture.height()), 24))
        return Error{"'" + path + "': " + image.GetLastError()};
    for (int y = 0; y < picture.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = row[x];
            image.SetPixelColour(static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                                 RgbQuad{static_cast<uint8_t>(qBlue(p)), static_cast<uint8_t>(qGreen(p)),
                                         static_cast<uint8_t>(qRed(p)), 0});
        }
    }
    if (!image.Save(path, ImageTypeFromExtension(GetFileExtension(path))))
        return Error{"cannot write '" + path + "'" + (image.OpenFailed() ? "" : ": " + image.GetLastError())};
    return {};
}

Result<void> SaveResultsPicture(const std::string& path, const ScanResults& results,
                                const ScanResults* compared) {
    if (const FileResult writable = CheckWritableTarget(path); !writable.Ok())
        return Error{writable.WriteMessage(path)};
    return SavePictureFile(path, RenderResultsPicture(results, compared));
}

}  // namespace dravix
