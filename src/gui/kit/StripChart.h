#pragma once
// A sweeping strip chart 350 samples wide. Every sample is drawn into an off-screen image
// (a band cleared ahead of the sample, a light cursor line, up to three line segments) and
// the widget only paints that image, so a covered window repaints with its trace intact and
// a sample costs a fixed, small number of drawing operations.

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <array>

namespace pemra {

class StripChart : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kColumns = 350;  // samples across the chart
  static constexpr int kChannels = 3;
  static inline const QColor kBackground{192, 192, 192};
  static inline const QColor kCursor{215, 215, 215};

  explicit StripChart(QWidget* parent = nullptr);

  void SetTraceColour(int channel, const QColor& colour);
  QColor TraceColour(int channel) const { return colours_[channel]; }

  // Draws one sample. A top equal to bottom first sets bottom (the caller's value) to -1,
  // so the chart never has zero height. Then: next column (past 350 the sweep starts again
  // at 0, the previous column with it), clear the band from the column to the next one,
  // cursor line at the next column, and for each channel with `drawn` set a segment from
  // (previous column, previous value) to (column, value). Every channel's previous value
  // is updated, drawn or not.
  void PlotSample(const std::array<double, kChannels>& values,
                  const std::array<bool, kChannels>& drawn, double& top, double& bottom);

  int Column() const { return column_; }
  int PreviousColumn() const { return previousColumn_; }
  double PreviousValue(int channel) const { return previous_[channel]; }

  // The off-screen drawing surface, in device pixels.
  const QImage& Surface() const { return surface_; }
  // Device-pixel position of a chart coordinate on the surface (coordinates of the last
  // sample).
  QPointF SurfacePoint(double x, double y) const;

  // Chart coordinates exist once the first sample has set them.
  bool HasCoordinates() const { return hasCoordinates_; }
  // Chart coordinates of a position in the widget.
  QPointF ChartPoint(QPointF widgetPosition) const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // The pointer moved over the chart; x and y in chart coordinates.
  void PointerMoved(double x, double y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void MarkDirty(const QRect& surfaceRect);
  void Refresh();
  int LineWidth() const;

  QImage surface_;
  std::array<QColor, kChannels> colours_;
  int column_ = 0;
  int previousColumn_ = 0;
  std::array<double, kChannels> previous_{};
  double top_ = 1.0;
  double bottom_ = 0.0;
  bool hasCoordinates_ = false;

  // Repaints are merged: a sample only marks its band dirty and a short timer asks Qt to
  // repaint the merged region, so a fast loop costs one repaint per frame, not per sample.
  QRect dirty_;
  QTimer refreshTimer_;
};

}  // namespace pemra
