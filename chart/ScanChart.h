#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>

#include "chart/ScanChartCanvas.h"

namespace dravix {

// The chart window of the scan page: a sunken child window showing a ScanChartCanvas. The drawing
// operations may be called from the scan worker as well as from the UI thread; the window itself
// is only touched on the UI thread (repaints asked for from elsewhere are posted to it).
class CScanChart final : public QWidget {
    Q_OBJECT

  public:
    CScanChart();
    ~CScanChart() override;
    Q_DISABLE_COPY_MOVE(CScanChart)

    // Becomes a visible child of `parent` over `rect` (parent coordinates, frame included) and draws
    // the frame. False when there is no parent or the chart already exists.
    bool Create(QWidget* parent, const QRect& rect);

    int SetRange(double yLower, double yUpper, int xLower, int xUpper, int yDecimals);
    bool AddSeries(QRgb colour);
    double AppendPoint(int index, double y, double x);
    void UpdateCurves();
    void ResetCurves();
    void DrawLimitLine(int index, int value, int on);
    void DrawRangeMarker(int which, int x, int on);

    // The chart's picture, for tests and for writing it out.
    ScanChartCanvas& Canvas() { return m_canvas; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void OnSize();
    void OnPaint();
    // Asks for a repaint of what the canvas changed since it was last shown.
    void RequestRepaint();

    ScanChartCanvas m_canvas;
    bool m_created = false;
    QSize m_clientSize;  // as the canvas last heard it
};

}  // namespace dravix
