#pragma once
// "Log Viewer": the files of a logging session drawn against time. The columns are listed
// with check boxes; the checked ones are drawn, one colour each. The wheel zooms the time
// axis (with Shift the value axis, with Ctrl both), a drag pans, a drag with the right
// button or with Ctrl held zooms into the box drawn, "Reset View" shows everything again.
// The cursor line reads out the time and every value of the row under the mouse, the table
// the statistics of the rows in view. Reading runs off the GUI thread with a progress bar
// and Cancel; the window is modeless.

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

class QCPItemStraightLine;
class QCustomPlot;
class QLabel;
class QListWidget;
class QProgressBar;
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

  // The view as PNG, SVG or PDF (by the suffix); the rows in view of the checked columns as
  // CSV (written off the GUI thread). An error text, or nothing on success (for the CSV:
  // when it has started).
  std::optional<QString> ExportPlot(const QString& fileName);
  std::optional<QString> ExportCsv(const QString& fileName);

  void cmdOpen_Click();
  void cmdResetView_Click();
  void cmdExportPlot_Click();
  void cmdExportCsv_Click();
  void cmdNoise_Click();
  void lstColumns_ItemChanged();

 signals:
  // A read or an export has ended (done, failed or cancelled).
  void WorkEnded();

 private:
  void ShowLog(std::shared_ptr<const LoadedLog> log);
  void ShowStatistics();
  void ShowCursor(double x);
  void Report(const QString& text);
  // Files that are not one session are shown as one series only when the user agrees.
  bool JoinAsked(const LoadedLog& log);
  void SetBusy(bool busy);
  QString Number(double value) const;

  Application& app_;
  BackgroundTask* task_ = nullptr;
  LogTimePlot* timePlot_ = nullptr;
  QCPItemStraightLine* cursorLine_ = nullptr;

 public:
  QPushButton* cmdOpen = nullptr;
  QPushButton* cmdResetView = nullptr;
  QPushButton* cmdExportPlot = nullptr;
  QPushButton* cmdExportCsv = nullptr;
  QPushButton* cmdNoise = nullptr;
  QListWidget* lstColumns = nullptr;
  QCustomPlot* plotLog = nullptr;
  QLabel* lblCursor = nullptr;
  QTableWidget* tblStatistics = nullptr;
  QProgressBar* prgRead = nullptr;
  QPushButton* cmdCancel = nullptr;
  QLabel* lblStatus = nullptr;
};

}  // namespace pemra
