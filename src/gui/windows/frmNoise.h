#pragma once
// "Noise (Allan Deviation)": the Allan deviation of the checked columns of the open log (or
// of a log it asks for) on log-log axes, each point marked with the noise identified there
// and its 68% interval, each figure's line drawn bold where it was fitted; a second tab holds
// the spectrum (Welch's amplitude density with the white-noise level and the peaks). Below,
// the table of N, B, K and the minimum per column in their units, each with its interval and
// tau range, or why it was not determined. The deviation type and the tau grid are chosen in
// the window; every change computes the curves again, off the GUI thread, with a progress bar
// and Cancel; a cancel keeps the result shown before (and puts the choices back to those it
// was computed with). A log handed on with a stretch of rows (from the viewer) is analysed
// over those rows only. "Add log..." draws the same columns of further logs beside the first
// (each curve labelled with its file); a data sheet's N and B can be drawn beside them. The
// plot, the table, every point (CSV) and the noise model (imu.yaml) can be saved. The window
// is modeless; its row of controls wraps on a narrow screen.

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "analysis/RowSelection.h"

class QCheckBox;
class QComboBox;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QTabWidget;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace pemra {

class Application;
class BackgroundTask;
struct LoadedLog;
struct NoiseCurve;
struct SpectrumCurve;

class frmNoise : public QDialog {
  Q_OBJECT

 public:
  explicit frmNoise(Application& app, QWidget* parent = nullptr);
  ~frmNoise() override;

  // Opens the one noise window (or brings it to the front) on the application's open log;
  // with none open, it asks for one.
  static std::function<void(QWidget*)> Opener(Application& app);

  // Analyses `log` (a log already read) over `rows` (count 0: all its rows).
  void SetLog(std::shared_ptr<const LoadedLog> log, RowRange rows = {});
  const std::shared_ptr<const LoadedLog>& Log() const { return log_; }
  RowRange Rows() const { return rows_; }
  void OpenFiles(const QStringList& files);
  // Reads a further log and draws its curves beside the ones shown.
  void AddLogFiles(const QStringList& files);
  const std::vector<std::shared_ptr<const LoadedLog>>& AddedLogs() const { return added_; }
  bool Busy() const;
  const std::vector<NoiseCurve>& Curves() const { return *curves_; }
  const std::vector<SpectrumCurve>& Spectra() const { return *spectra_; }

  // The figures table as CSV text: a title line, then one line per column.
  std::string TableCsv() const;
  // Every point of every curve as CSV text.
  std::string PointsCsv() const;
  // Saves the plot of the tab shown.
  std::optional<QString> ExportPlot(const QString& fileName);
  std::optional<QString> ExportTable(const QString& fileName);
  std::optional<QString> ExportPoints(const QString& fileName);
  std::optional<QString> ExportImuYaml(const QString& fileName);

  void cmdOpen_Click();
  void cmdAddLog_Click();
  void cmdExportPoints_Click();
  void txtSheet_Change();
  void cmdExportPlot_Click();
  void cmdExportTable_Click();
  void cmdExportYaml_Click();
  void Recompute();
  // Moves the figures table from under the plots into a tab beside them ("Figures").
  void PutTableInTab();
  void chkLegend_Toggled(bool on);

 signals:
  void WorkEnded();

 private:
  void ShowCurves();
  void DrawCurves();
  void ReadInBackground(const QStringList& files,
                        std::function<void(std::shared_ptr<const LoadedLog>)> read);
  std::optional<QString> SaveCsv(const QString& fileName, const std::string& text);
  void AskAndSaveCsv(const QString& caption, const QString& suffix,
                     std::optional<QString> (frmNoise::*save)(const QString&));
  void Report(const QString& text);
  void SetBusy(bool busy);
  QString BaseName() const;
  QString StretchText() const;
  // Asks before a computation that will take long; false when the user declines.
  bool AcceptLongComputation(const std::vector<size_t>& chosen, int type, int grid);

  // The choices the curves shown were computed with, put back when a computation is cancelled.
  struct Choices {
    int type = 0;
    int grid = 0;
    std::vector<size_t> columns;
  };
  void RestoreChoices(const Choices& choices);
  Choices shownChoices_;
  RowRange rows_;

  Application& app_;
  BackgroundTask* task_ = nullptr;
  std::shared_ptr<const LoadedLog> log_;
  std::vector<std::shared_ptr<const LoadedLog>> added_;  // drawn beside log_
  std::shared_ptr<std::vector<NoiseCurve>> curves_;
  std::shared_ptr<std::vector<SpectrumCurve>> spectra_;
  int curvesType_ = 0;  // the deviation type the curves were computed for (AllanType)

 public:
  QPushButton* cmdOpen = nullptr;
  QPushButton* cmdAddLog = nullptr;
  QComboBox* cmboSheetKind = nullptr;
  QLineEdit* txtSheetN = nullptr;
  QLineEdit* txtSheetB = nullptr;
  QLabel* lblSheetNUnit = nullptr;
  QLabel* lblSheetBUnit = nullptr;
  QPushButton* cmdExportPoints = nullptr;
  QTabWidget* tabPlots = nullptr;
  QCustomPlot* plotSpectrum = nullptr;
  QComboBox* cmboType = nullptr;
  QComboBox* cmboGrid = nullptr;
  QPushButton* cmdExportPlot = nullptr;
  QPushButton* cmdExportTable = nullptr;
  QPushButton* cmdExportYaml = nullptr;
  QCheckBox* chkLegend = nullptr;
  QListWidget* lstColumns = nullptr;
  QCustomPlot* plotNoise = nullptr;
  QTableWidget* tblFigures = nullptr;
  QProgressBar* prgCompute = nullptr;
  QPushButton* cmdCancel = nullptr;
  QLabel* lblStatus = nullptr;
};

}  // namespace pemra
