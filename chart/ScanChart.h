#pragma once

#include <QRect>
#include <QSize>
#include <QWidget>

#include "chart/ScanChartCanvas.h"

namespace dravix {

// The chart window of the scan page: a sunken child window showing a ScanChartCanvas. The window
// and its drawing operations belong to the UI thread. The scan worker draws on the canvas itself
// (every canvas operation takes the canvas's lock) and hands ShowChanges to the UI thread.
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

    // The chart's picture: for the scan worker's drawing, for tests and for writing it out.
    ScanChartCanvas& Canvas() { return m_canvas; }
    // Repaints what the canvas changed since it was last shown (after a worker drew on it).
    void ShowChanges();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void OnSize();
    void OnPaint(const QRegion& exposed);

    ScanChartCanvas m_canvas;
    bool m_created = false;
    QSize m_clientSize;  // as the canvas last heard it
};

}  // namespace dravix
