#pragma once
// "Operational Control": the sample rate (SMPL_PRD), gyro range and filter taps (SENS_AVG),
// the auxiliary I/O lines (GPIO_CTRL), the data-ready output (MSC_CTRL) and the auxiliary
// DAC (AUX_DAC). Every write is read back, and the window shows what the sensor holds.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>

class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace pemra {

class Application;
struct Session;

class frmOperationalControl : public QDialog {
  Q_OBJECT

 public:
  // Builds the window and loads it from the sensor (nothing is written).
  explicit frmOperationalControl(Application& app, QWidget* parent = nullptr);

  void Form_Load();

  void cmdWriteSmpl_prd_Click();
  void cmdWriteSensAvg_Click();
  void Write_GPIO_ctrl();
  void Write_MSC_Ctrl();
  void cmdWriteAuxDac_Click();
  void cmdFlash_Click();
  void cmdClose_Click();

  QLineEdit* txtSampleRate = nullptr;
  QPushButton* cmdWriteSmpl_prd = nullptr;
  QLabel* lblSmpl_Prd = nullptr;

  QRadioButton* opt_Rate_80 = nullptr;
  QRadioButton* opt_Rate_160 = nullptr;
  QRadioButton* opt_Rate_320 = nullptr;
  QLineEdit* txtTaps = nullptr;
  QPushButton* cmdWriteSensAvg = nullptr;
  QLabel* lblSensAvg = nullptr;

  QRadioButton* optIO_zero_input = nullptr;
  QRadioButton* optIO_zero_output = nullptr;
  QRadioButton* optIO_one_input = nullptr;
  QRadioButton* optIO_one_output = nullptr;
  QRadioButton* optPol_zero_low = nullptr;
  QRadioButton* optPol_zero_high = nullptr;
  QRadioButton* optPol_one_low = nullptr;
  QRadioButton* optPol_one_high = nullptr;

  QRadioButton* optDRselect_Zero = nullptr;
  QRadioButton* optDRselect_One = nullptr;
  QRadioButton* optDRPolarity_Low = nullptr;
  QRadioButton* optDRPolarity_High = nullptr;
  QRadioButton* optDREnable_Off = nullptr;
  QRadioButton* optDREnable_On = nullptr;

  QLineEdit* txtVolts = nullptr;
  QPushButton* cmdWriteAuxDac = nullptr;
  QLabel* lblAuxDac = nullptr;

  QPushButton* cmdFlash = nullptr;
  QPushButton* cmdClose = nullptr;
  // Shown while no interface reaches the sensor (the boxes are then empty).
  QLabel* lblNoInterface = nullptr;

 protected:
  void reject() override;

 private:
  void BuildControls();
  void ConnectHandlers();
  // Two exclusive options on one row of a grid: caption, first option, second option.
  void AddOptionPair(QGridLayout* grid, int row, const QString& caption,
                     QRadioButton*& first, const char* firstName, const QString& firstCaption,
                     QRadioButton*& second, const char* secondName,
                     const QString& secondCaption);

  // Reads an entry; empty when the interface was or became unusable (the window then
  // shows that no interface is in use).
  std::optional<int32_t> ReadBack(int16_t index);
  // No sensor to show: every box and hex word empty, no I/O option chosen, and the line
  // that says so.
  void ShowNoInterface();
  // False (and the state shown) when no interface is in use.
  bool Usable();
  void ShowSampleRate();
  bool ShowSensAvg();
  void ShowAuxDac();
  void ShowRangeCaptions();
  void Wait(float milliseconds);
  QChar Separator() const;

  Application& app_;
  Session& session_;
  bool busy_ = false;  // a wait is running: the window must not close under it
};

// Opens the window modally over the given parent.
std::function<void(QWidget*)> OperationalControlOpener(Application& app);

}  // namespace pemra
