#pragma once
// "Log Viewer": the files of a logging session drawn against time. The columns are listed
// with check boxes; the checked ones are drawn, one colour each, stacked one value axis per
// unit over one time axis. The wheel zooms the time axis (with Shift the value axis, with
// Ctrl both), a drag pans, a drag with the right button or with Ctrl held zooms into the box
// drawn; on the plot the arrow keys pan, PageUp/PageDown pan a whole view, + and - zoom and
// Home shows everything, as "Reset View" does. The hover line reads out the time and every
// shown value of the row under the mouse. "Cursors" puts two measurement cursors on the
// plot (drag them, or double-click to move the nearer one): the table then gives each
// column's value at both, their difference and the statistics of the rows between them;
// without cursors, of the rows in view. That stretch is what "Noise..." analyses and
// "Export CSV..." writes. A log whose files tell no rate gets a rate field. Reading runs off
// the GUI thread with a progress bar and Cancel; the window is modeless, and closing it
// gives back the log's memory. Below the plot, "Add Series" derives a column from the one
// selected in the list (integral over time, moving average, scale and offset); a column
// dragged from the list onto the plot is drawn there. "XY" draws the checked columns
// against one column (say a gyro's rate against the temperature) over the same stretch.

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

#include "analysis/DerivedSeries.h"
#include "analysis/RowSelection.h"

class QCheckBox;
class QComboBox;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QListWidget;
class QMouseEvent;
class QProgressBar;
class QScrollArea;
class QPushButton;
class QTableWidget;

namespace pemra {

class Application;
class BackgroundTask;
class LogTimePlot;
struct LoadedLog;

class frmLogViewer : public QDialog {
  Q_OBJECT

 public:
  explicit frmLogViewer(Application& app, QWidget* parent = nullptr);
  ~frmLogViewer() override;

  // Opens the one viewer (or brings it to the front) and asks for a log to show.
  static std::function<void(QWidget*)> Opener(Application& app);

  // Reads these files (a session's) off the GUI thread and shows them when done.
  void OpenFiles(const QStringList& files);
  bool Reading() const;
  const std::shared_ptr<const LoadedLog>& Log() const;

  // The rows the statistics, "Noise..." and "Export CSV..." take: those between the cursors
  // when they are shown, else those in view.
  RowRange Stretch() const;
  // The cursors' times (seconds from the start; the row numbers without a rate).
  double CursorTime(int cursor) const { return cursors_[cursor]; }
  // Puts cursor 0 or 1 on the row nearest `seconds`.
  void SetCursor(int cursor, double seconds);

  // The view as PNG, SVG or PDF (by the suffix); the stretch of the checked columns as CSV
  // (written off the GUI thread). An error text, or nothing on success (for the CSV: when
  // it has started).
  std::optional<QString> ExportPlot(const QString& fileName);
  std::optional<QString> ExportCsv(const QString& fileName);

  void cmdOpen_Click();
  void cmdResetView_Click();
  void cmdExportPlot_Click();
  void cmdExportCsv_Click();
  void cmdNoise_Click();
  void lstColumns_ItemChanged();
  void chkCursors_Toggled(bool on);
  void chkLegend_Toggled(bool on);
  void txtRate_EditingFinished();
  void cboDerive_Changed(int index);
  void cmdDerive_Click();
  void chkXY_Toggled(bool on);
  void cboXColumn_Changed(int index);

  // Adds the series `recipe` derives from the column selected in the list, checked and drawn
  // in the stack of its unit; an error text, or nothing when it was added.
  std::optional<QString> AddDerived(const DerivedRecipe& recipe);
  // A column dropped onto the plot at `pos` (the plot's coordinates): checked and drawn.
  // The status line says where it went.
  void DropColumn(size_t slot, QPointF pos);
  // The points the XY plot draws for the shown columns (every k-th row of the stretch
  // beyond kXYPoints rows): its rows' step.
  int64_t XYStep() const;

 signals:
  // A read or an export has ended (done, failed or cancelled).
  void WorkEnded();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void done(int result) override;

 private:
  void ShowLog(std::shared_ptr<const LoadedLog> log);
  void ReleaseLog();
  void ShowStatistics();
  void ShowHover();
  void ShowCursors();
  // The hover line (when `withHover` and the mouse is over the plot) and the cursors.
  void UpdateMarkers(bool withHover);
  void Report(const QString& text);
  // Files that are not one session are shown as one series only when the user agrees.
  bool JoinAsked(const LoadedLog& log);
  void SetBusy(bool busy);
  QString Number(double value) const;
  int64_t RowAt(double seconds) const;
  void PlotPress(QMouseEvent* event);
  void PlotMove(QMouseEvent* event);
  void PlotRelease();
  std::optional<QString> NothingChecked() const;
  void SetChecked(const std::vector<size_t>& chosen);
  void FillXColumns();
  void DrawXY();
  void FitPlotHeight();

  Application& app_;
  BackgroundTask* task_ = nullptr;
  LogTimePlot* timePlot_ = nullptr;
  std::optional<double> hover_;  // time under the mouse, while it is over the plot
  double cursors_[2] = {0, 0};
  int dragging_ = -1;  // the cursor being dragged
  int savedInteractions_ = 0;

 public:
  QPushButton* cmdOpen = nullptr;
  QPushButton* cmdResetView = nullptr;
  QPushButton* cmdExportPlot = nullptr;
  QPushButton* cmdExportCsv = nullptr;
  QPushButton* cmdNoise = nullptr;
  QCheckBox* chkCursors = nullptr;
  QCheckBox* chkLegend = nullptr;
  QLabel* lblRate = nullptr;
  QLineEdit* txtRate = nullptr;
  QListWidget* lstColumns = nullptr;
  QCustomPlot* plotLog = nullptr;
  QScrollArea* scrPlot = nullptr;
  QCheckBox* chkXY = nullptr;
  QLabel* lblXColumn = nullptr;
  QComboBox* cboXColumn = nullptr;
  QCustomPlot* plotXY = nullptr;
  QLabel* lblDerive = nullptr;
  QComboBox* cboDerive = nullptr;
  QLabel* lblDeriveWindow = nullptr;
  QLineEdit* txtDeriveWindow = nullptr;
  QLabel* lblDeriveScale = nullptr;
  QLineEdit* txtDeriveScale = nullptr;
  QLabel* lblDeriveOffset = nullptr;
  QLineEdit* txtDeriveOffset = nullptr;
  QPushButton* cmdDerive = nullptr;
  QLabel* lblCursor = nullptr;
  QLabel* lblCursors = nullptr;
  QTableWidget* tblStatistics = nullptr;
  QProgressBar* prgRead = nullptr;
  QPushButton* cmdCancel = nullptr;
  QLabel* lblStatus = nullptr;
};

}  // namespace pemra
