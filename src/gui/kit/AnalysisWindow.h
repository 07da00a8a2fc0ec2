#pragma once
// What the log viewer and the noise window are both built of: a resizable modeless window
// with a row of buttons on top, the log's columns as a list with check boxes on the left,
// a plot over a table on the right, and a progress row (progress bar, Cancel, status line)
// at the bottom that shows while the window's background work runs.

#include <QString>
#include <QStringList>

#include <cstddef>
#include <string>
#include <vector>

class QDialog;
class QLabel;
class QLayout;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QWidget;

namespace pemra {

class BackgroundTask;
struct LoadedLog;

struct ProgressRow {
  QWidget* row = nullptr;
  QProgressBar* bar = nullptr;
  QPushButton* cancel = nullptr;
  QLabel* status = nullptr;
};

// Title, object name, a frame with minimise and maximise buttons, a size grip.
void SetUpAnalysisWindow(QDialog& window, const char* name, const QString& title);

// A read-only table with these column headings; no cell is cut short.
QTableWidget* AnalysisTable(const char* name, const QStringList& headings);

// Lays the window out (buttons, columns | plot over table, progress row) and gives it its
// first size within the screen. The progress row's bar is named `barName`, its button
// "cmdCancel" and its status line "lblStatus".
ProgressRow LayOutAnalysisWindow(QDialog& window, BackgroundTask& task, QLayout* buttons,
                                 QListWidget* columns, QWidget* plot, QTableWidget* table,
                                 const char* barName);

// Shows the window in front; the first time at the main window's top-left corner, moved in
// as far as needed to lie on the screen's free area.
void ShowAnalysisWindow(QDialog& window, bool first);

// The log's view columns as list items "Title (unit)" with the colour they are drawn in;
// the gyro and accelerometer columns checked (the first column when there is none). No
// itemChanged signal is sent.
void FillColumnList(QListWidget& list, const LoadedLog& log);
// The series slots of the checked items, ascending.
std::vector<size_t> CheckedSlots(const QListWidget& list);

// The reader's warnings about a log for a status line: the same warning about several
// columns (a new-data column per channel holding 0) told once, naming how many; every
// warning whole in the tooltip.
struct WarningLine {
  QString text;
  QString tooltip;
};
WarningLine SummariseWarnings(const std::vector<std::string>& warnings);

}  // namespace pemra
