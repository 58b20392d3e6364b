#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>
#include <QtGlobal>

#include <mutex>
#include <vector>

#include "chart/ChartSeries.h"

class QPainter;

namespace dravix {

// One axis label as DrawFrame placed it.
struct ChartLabel {
    enum class Align { Left, Centre, Right };
    QString text;
    QPoint anchor;  // the reference point given to the text output
    Align align = Align::Left;
    bool baseline = false;  // anchor.y() is the baseline (otherwise the top of the text cell)
    QRect cell;             // the opaque text cell that was painted
};

// Geometry of the chart at one moment, in device pixels of the layers (client pixels times the
// device pixel ratio).
struct ChartLayout {
    int clientWidth = 0;
    int clientHeight = 0;
    int plotLeft = 0;
    int plotTop = 0;
    int plotRight = 0;
    int plotBottom = 0;
    int plotWidth = 0;
    int plotHeight = 0;
    double yFactor = 0.0;
    double xFactor = 0.0;
    double devicePixelRatio = 1.0;
};

// The chart without a window: two layers of client size (the GridLayer with frame, grid and labels;
// the PlotLayer with curves, criterion lines and range markers) and every drawing operation of the
// scan chart. The widget CScanChart shows one; the command line renders one into a picture.
//
// The layers hold device pixels: on a screen with a device pixel ratio r they are r times the
// client size, the distances of the layout (margins, label gap, label height) grow by r, and the
// pixel rules (one-pixel lines, the 3-on/3-off dotted pen, the last pixel a line leaves out, the
// grid's dot pitch) hold at device pixels, so nothing is ever scaled up from a smaller picture.
// Sizes given to Create and OnSize are client pixels; everything the canvas reports is in device
// pixels, except PendingRepaint, which a window needs in client pixels.
//
// Thread safety: every public member takes one lock, so a drawing operation from the scan worker and
// a composition for the screen never overlap. Text output needs a QGuiApplication.
class ScanChartCanvas final {
  public:
    ScanChartCanvas();
    ~ScanChartCanvas();
    Q_DISABLE_COPY_MOVE(ScanChartCanvas)

    // OnSize followed by the first DrawFrame, which creates the layers at this size for good. The
    // ratio is fixed from here on (the layers are the only record of the curves).
    void Create(int clientWidth, int clientHeight, double devicePixelRatio = 1.0);
    // Lays out the plot rectangle for a new client size; never redraws or re-creates the layers.
    void OnSize(int clientWidth, int clientHeight);
    // Creates the layers on its first run, redraws the GridLayer and clears the PlotLayer. Before
    // Create it does nothing, so that no layer is ever made without a client size.
    void DrawFrame();

    // Always returns 0. Requires yUpper != yLower and xUpper != xLower (other ranges draw
    // nonsense but never fault).
    int SetRange(double yLower, double yUpper, int xLower, int xUpper, int yDecimals);
    // False, with nothing redrawn, when memory for the series cannot be had. A dashed series draws
    // its curve with one dash pattern running on along the whole curve, however short its segments.
    bool AddSeries(QRgb colour, bool dashed = false);
    // Moves series `index` on to (x, y); returns its former current Y, or 0.0 for an unknown index.
    double AppendPoint(int index, double y, double x);
    // The series' next point starts a new line instead of joining its current one.
    void ForgetPrevious(int index);
    // Draws the newest segment of every curve (series 2 onwards) into the PlotLayer.
    void UpdateCurves();
    // Forgets every series' points and clears the PlotLayer.
    void ResetCurves();
    // on == 1 draws the dotted criterion line at Y = value in series `index`'s colour; any other
    // value erases it (and whatever curve pixels lie on it).
    void DrawLimitLine(int index, int value, int on);
    // which == 0: start marker, else end marker. on == 1 draws it at X = x and remembers x; any other
    // value erases the marker at its remembered position.
    void DrawRangeMarker(int which, int x, int on);

    // GridLayer OR PlotLayer at the current client size in device pixels (black outside the
    // layers); the image carries the device pixel ratio.
    QImage Render() const;
    void ComposeInto(QImage& target) const;
    // Brings the kept composition up to date where the layers changed since the last call and
    // draws it at `origin`. For the window's paint handler: `exposed` is the part of the client
    // area (client pixels, relative to `origin`) that the paint reaches on the screen; what the
    // painter's clip leaves out stays pending. Without it the whole client area is shown.
    void Paint(QPainter& painter, QPoint origin, const QRegion& exposed);
    void Paint(QPainter& painter, QPoint origin);
    // The client area that changed and has not been shown since, in client pixels: what a window
    // needs to repaint.
    QRect PendingRepaint() const;

    ChartLayout Layout() const;
    QImage GridLayer() const;
    QImage PlotLayer() const;
    std::vector<ChartLabel> Labels() const;
    int SeriesCount() const;
    ChartSeries Series(int index) const;
    int StartMarkerX() const;
    int EndMarkerX() const;
    // The X range SetRange gave.
    int XLower() const;
    int XUpper() const;

    // A second scale on the right of the plot, from `lower` at its bottom to `upper` at its top,
    // labelled at the same quarter lines as the left one, with `title` above its labels. The plot
    // gives up room at its right and top for it. Without this call a chart has no right axis.
    void SetRightAxis(double lower, double upper, const QString& title);
    // The right axis's labels (its title last); empty on a chart without one.
    std::vector<ChartLabel> RightLabels() const;
    // A value of the right axis as the Y value at the same height, for a curve drawn to that scale.
    double FromRightAxis(double value) const;

  private:
    void OnSizeLocked(int clientWidth, int clientHeight);
    void DrawFrameLocked();
    void PlaceLocked();
    void DrawLabelsLocked(int mid, int quarter);
    void DrawSegmentsLocked();
    int Device(int clientPixels) const;
    int PixelX(double x) const;
    int PixelY(double v) const;
    void MarkChanged(const QRect& rect);
    void ComposeRegionLocked(QImage& target, const QRect& region) const;
    // The device pixels that lie wholly inside the client pixels of `client`.
    QRegion DeviceRegionInside(const QRegion& client) const;

    mutable std::mutex m_mutex;

    double m_ratio = 1.0;  // device pixels per client pixel
    int m_yDecimals = 0;
    QRgb m_backColour = 0xFF000000;
    QRgb m_gridColour = 0xFFFFFFFF;
    int m_clientHeight = 0;
    int m_clientWidth = 0;
    int m_plotHeight = 0;
    int m_plotWidth = 0;
    double m_yLower = 0.0;
    double m_yUpper = 1000.0;
    double m_yRange = 1000.0;
    double m_yFactor = 0.0;
    int m_xLower = 0;
    int m_xUpper = 2295103;  // last address of a single-layer DVD+R
    double m_xRange = 2295103.0;
    double m_xFactor = 0.0;
    int m_plotLeft = 0;
    int m_plotTop = 0;
    int m_plotRight = 0;
    int m_plotBottom = 0;

    bool m_created = false;  // Create has run: there is a client area to make layers for
    bool m_layersCreated = false;
    QImage m_grid;
    QImage m_plot;
    std::vector<ChartSeries> m_series;
    int m_startMarkerX = 0;
    int m_endMarkerX = 0;
    std::vector<ChartLabel> m_labels;
    bool m_rightAxis = false;
    double m_rightLower = 0.0;
    double m_rightUpper = 1.0;
    QString m_rightTitle;
    std::vector<ChartLabel> m_rightLabels;

    // The composition the window shows, kept between paints; only what the layers changed since
    // the last paint is composed again. What a paint composed is not yet on the screen where the
    // paint was clipped: that part stays to be shown, apart from what is still to be composed.
    QImage m_composed;
    QRect m_changed;
    bool m_allChanged = true;
    QRegion m_unshown;
};

}  // namespace dravix
