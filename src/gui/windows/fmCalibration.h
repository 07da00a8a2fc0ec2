#pragma once
// "Calibration": the six offset-correction registers in engineering units, and the
// sensor's calibration commands (auto-null, precision auto-null, factory restore, flash).

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

namespace pemra {

class Application;
struct Session;

class fmCalibration : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kRows = 6;  // X, Y, Z gyro, then X, Y, Z accelerometer

  // Builds the window and loads it from the sensor.
  explicit fmCalibration(Application& app, QWidget* parent = nullptr);

  void Form_Load();
  void Form_Activate();
  void ReadCalRegisters();
  // The Update button of row 0..5 (cmdCal_GX_Click .. cmdCal_AZ_Click).
  void cmdCal_Click(int row);
  void cmdCal_GX_Click() { cmdCal_Click(0); }
  void cmdCal_GY_Click() { cmdCal_Click(1); }
  void cmdCal_GZ_Click() { cmdCal_Click(2); }
  void cmdCal_AX_Click() { cmdCal_Click(3); }
  void cmdCal_AY_Click() { cmdCal_Click(4); }
  void cmdCal_AZ_Click() { cmdCal_Click(5); }
  void cmdAutoNull_Click();
  void cmdPreciAutoNull_Click();
  void cmdFactoryCal_Click();
  void cmdFlash_Click();
  void cmdClose_Click();

  // True while the precision auto-null counts down.
  bool PrecisionAutoNullRunning() const { return precisionRunning_; }

  QPushButton* cmdAutoNull = nullptr;
  QPushButton* cmdPreciAutoNull = nullptr;
  QPushButton* cmdFactoryCal = nullptr;
  QLabel* LbLInProgress = nullptr;
  // By row: txtGX, txtGY, txtGZ, txtAX, txtAY, txtAZ and their buttons and hex labels.
  std::array<QLineEdit*, kRows> txt{};
  std::array<QPushButton*, kRows> cmdCal{};
  std::array<QLabel*, kRows> lbl{};
  QPushButton* cmdFlash = nullptr;
  QPushButton* cmdClose = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void reject() override;

 private:
  void BuildControls();
  void RunCommand(int32_t code, float waitMilliseconds, bool reread);
  void SetControlsEnabled(bool enabled);

  Application& app_;
  Session& session_;
  std::array<QLabel*, kRows> rowCaptions_{};
  std::array<QLabel*, kRows> unitCaptions_{};
  bool busy_ = false;  // a wait is running: the window must not close under it
  bool precisionRunning_ = false;
};

// Opens the window modally over the given parent.
std::function<void(QWidget*)> CalibrationOpener(Application& app);

}  // namespace pemra
