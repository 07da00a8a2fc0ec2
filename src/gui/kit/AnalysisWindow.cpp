#include "gui/kit/AnalysisWindow.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStyle>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "analysis/LogView.h"
#include "gui/kit/BackgroundTask.h"
#include "gui/kit/LogPlots.h"
#include "gui/kit/NamedWidget.h"
#include "gui/kit/OpsWindowSupport.h"

namespace pemra {

namespace {

// The first size: `wanted`, within the screen's free area less room for the window
// manager's frame.
void FitWindowToScreen(QWidget& window, QSize wanted) {
  if (const QScreen* screen = window.screen()) {
    const int frame = window.style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8;
    wanted = wanted.boundedTo(screen->availableSize() - QSize(8, frame));
  }
  window.resize(wanted.expandedTo(window.minimumSizeHint().boundedTo(wanted)));
}

ProgressRow BuildProgressRow(BackgroundTask& task, QWidget* parent, const char* barName) {
  ProgressRow r;
  r.row = new QWidget(parent);
  auto* layout = new QHBoxLayout(r.row);
  layout->setContentsMargins(0, 0, 0, 0);
  r.status = Named<QLabel>("lblStatus", r.row);
  r.status->setTextInteractionFlags(Qt::TextSelectableByMouse);
  r.status->setMinimumWidth(1);  // long texts wrap, never widen the window
  r.status->setWordWrap(true);
  r.bar = Named<QProgressBar>(barName, r.row);
  r.bar->setRange(0, 100);
  r.bar->setMaximumWidth(r.bar->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 24);
  r.cancel = Named<QPushButton>("cmdCancel", QStringLiteral("Cancel"), r.row);
  layout->addWidget(r.status, 1);
  layout->addWidget(r.bar);
  layout->addWidget(r.cancel);
  r.bar->hide();
  r.cancel->hide();
  QObject::connect(&task, &BackgroundTask::ProgressChanged, r.bar, &QProgressBar::setValue);
  QObject::connect(&task, &BackgroundTask::RunningChanged, r.row, [r](bool running) {
    r.bar->setVisible(running);
    r.cancel->setVisible(running);
    r.cancel->setEnabled(true);
  });
  QObject::connect(r.cancel, &QPushButton::clicked, r.row, [r, &task] {
    task.Cancel();
    r.cancel->setEnabled(false);
    r.status->setText(r.status->text() + QStringLiteral(" cancelling..."));
  });
  return r;
}

}  // namespace

void SetUpAnalysisWindow(QDialog& window, const char* name, const QString& title) {
  window.setObjectName(QString::fromLatin1(name));
  window.setWindowTitle(title);
  window.setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  window.setSizeGripEnabled(true);
}

QTableWidget* AnalysisTable(const char* name, const QStringList& headings) {
  auto* table = Named<QTableWidget>(name, 0, static_cast<int>(headings.size()));
  table->setHorizontalHeaderLabels(headings);
  table->verticalHeader()->hide();
  table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 8);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Tab moves on to the next control, not from cell to cell.
  table->setTabKeyNavigation(false);
  // Every cell whole: the columns take their contents' width, and the table scrolls
  // sideways when the window is too narrow.
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table->setMinimumHeight(table->fontMetrics().height() * 4);
  return table;
}

ProgressRow LayOutAnalysisWindow(QDialog& window, BackgroundTask& task, QLayout* buttons,
                                 QListWidget* columns, QWidget* plot, QTableWidget* table,
                                 const char* barName) {
  // As narrow as the longest column name of a log with its check box and colour, so the
  // plot gets the rest.
  columns->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
  columns->setMinimumWidth(columns->fontMetrics().horizontalAdvance(QStringLiteral("ZTEMP_OUT (degC)")) +
                           5 * columns->fontMetrics().height());
  auto* right = new QSplitter(Qt::Vertical);
  right->addWidget(plot);
  right->addWidget(table);
  right->setStretchFactor(0, 3);
  right->setStretchFactor(1, 1);
  right->setSizes({3000, 1000});
  auto* split = new QSplitter(Qt::Horizontal);
  split->addWidget(columns);
  split->addWidget(right);
  split->setStretchFactor(0, 0);
  split->setStretchFactor(1, 1);
  const ProgressRow progress = BuildProgressRow(task, &window, barName);
  auto* layout = new QVBoxLayout(&window);
  layout->addLayout(buttons);
  layout->addWidget(split, 1);
  layout->addWidget(progress.row);
  NoDefaultButtons(window);
  FitWindowToScreen(window, QSize(1100, 720));
  return progress;
}

void ShowAnalysisWindow(QDialog& window, bool first) {
  if (first) MoveToParentCorner(&window);
  window.show();
  window.raise();
  window.activateWindow();
  if (!first) return;
  // Once the window manager has framed the window, the whole frame is moved onto the
  // screen's free area where it reaches past it.
  QTimer::singleShot(100, &window, [&window] {
    const QScreen* screen = window.screen();
    if (screen == nullptr) return;
    const QRect free = screen->availableGeometry();
    const QRect frame = window.frameGeometry();
    if (free.contains(frame)) return;
    const int x = std::clamp(frame.left(), free.left(), std::max(free.left(), free.right() - frame.width() + 1));
    const int y = std::clamp(frame.top(), free.top(), std::max(free.top(), free.bottom() - frame.height() + 1));
    window.move(x, y);
  });
}

void FillColumnList(QListWidget& list, const LoadedLog& log) {
  const QSignalBlocker quiet(&list);
  list.clear();
  bool anyChecked = false;
  for (size_t slot = 0; slot < log.series.columns.size(); ++slot) {
    const LogColumn& column = log.Column(slot);
    QString text = QString::fromStdString(log.ColumnTitle(slot));
    const std::string unit = DataUnit(log, slot);  // raw values are in LSB, whatever the title
    if (!unit.empty()) text += QStringLiteral(" (%1)").arg(QString::fromStdString(unit));
    QPixmap swatch(12, 12);
    swatch.fill(PlotColour(slot));
    auto* item = new QListWidgetItem(QIcon(swatch), text, &list);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    const bool motion = column.kind == ColumnKind::Gyro || column.kind == ColumnKind::Accel;
    item->setCheckState(motion ? Qt::Checked : Qt::Unchecked);
    anyChecked = anyChecked || motion;
  }
  if (!anyChecked && list.count() > 0) list.item(0)->setCheckState(Qt::Checked);
}

WarningLine SummariseWarnings(const std::vector<std::string>& warnings) {
  // Warnings that differ only in their first words ("column XgND holds 0 in 12 of ...")
  // are one warning about several columns: told by their common ending.
  WarningLine line;
  QStringList all, shown;
  std::vector<std::pair<QString, int>> endings;  // the text after the column's count, and how many
  for (const std::string& w : warnings) {
    const QString text = QString::fromStdString(w);
    all << text;
    const qsizetype colon = text.indexOf(QStringLiteral(": "));
    const QString ending = text.startsWith(QStringLiteral("column ")) && colon > 0 ? text.mid(colon + 2) : text;
    auto found = std::find_if(endings.begin(), endings.end(), [&](const auto& e) { return e.first == ending; });
    if (found == endings.end()) {
      endings.emplace_back(ending, 1);
      shown << text;
    } else {
      ++found->second;
    }
  }
  for (size_t i = 0; i < endings.size(); ++i)
    if (endings[i].second > 1)
      shown[static_cast<qsizetype>(i)] += endings[i].second == 2
                                              ? QStringLiteral(" (the same in 1 more column)")
                                              : QStringLiteral(" (the same in %1 more columns)").arg(endings[i].second - 1);
  line.text = shown.join(QStringLiteral("; "));
  line.tooltip = all.join(QLatin1Char('\n'));
  return line;
}

std::vector<size_t> CheckedSlots(const QListWidget& list) {
  std::vector<size_t> chosen;
  for (int i = 0; i < list.count(); ++i)
    if (list.item(i)->checkState() == Qt::Checked) chosen.push_back(static_cast<size_t>(i));
  return chosen;
}

}  // namespace pemra
