#pragma once
// "ALARM CONFIGURATION AND CONTROL": the sources, trigger levels (in the source's units),
// polarities, averaging numbers and rate-of-change switches of the two alarms, and the
// digital alarm indicator. Every change of ALM_CTRL is a read-modify-write of the field
// the action owns; after a write the window shows what the sensor holds.

#include <QDialog>

#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace pemra {

class Application;
struct Session;

class frmAlarms : public QDialog {
  Q_OBJECT

 public:
  explicit frmAlarms(Application& app, QWidget* parent = nullptr);

  void cmdWiteA1_Click();
  void cmdWriteA2_Click();
  void cmdWriteAlmSmpl1_Click();
  void cmdWriteAlmSmpl2_Click();
  void cmdAdio_Click();
  void cmdFlash_Click();
  void cmdClose_Click();

  void ReadAlarmSetup();
  void ChangeAlarmBitstoLevel();
  void ChangeAlarmLeveltoBitsWrite();
  void WriteAlarmSetup();
  void WriteAlarmIndicator();

  QComboBox* cmboAsource1 = nullptr;
  QComboBox* cmboAsource2 = nullptr;
  QLineEdit* txtLevel1 = nullptr;
  QLineEdit* txtLevel2 = nullptr;
  QLabel* lblALM_MAG1 = nullptr;
  QLabel* lblALM_MAG2 = nullptr;
  QRadioButton* opTrigPol1_Greater = nullptr;
  QRadioButton* opTrigPol1_Less = nullptr;
  QRadioButton* opTrigPol2_greater = nullptr;
  QRadioButton* opTrigPol2_Less = nullptr;
  QPushButton* cmdWiteA1 = nullptr;
  QPushButton* cmdWriteA2 = nullptr;
  QLineEdit* txtAvg1 = nullptr;
  QLineEdit* txtAVG2 = nullptr;
  QRadioButton* opRate1_Enabled = nullptr;
  QRadioButton* opRate1_Disabled = nullptr;
  QRadioButton* opRate2_Enabled = nullptr;
  QRadioButton* opRate2_Disabled = nullptr;
  QPushButton* cmdWriteAlmSmpl1 = nullptr;
  QPushButton* cmdWriteAlmSmpl2 = nullptr;
  QLabel* lblALM_SMPL1 = nullptr;
  QLabel* lblALM_SMPL2 = nullptr;
  QRadioButton* opDigLine_zero = nullptr;
  QRadioButton* opDigLine_one = nullptr;
  QRadioButton* opDigPol_low = nullptr;
  QRadioButton* opDigPol_high = nullptr;
  QRadioButton* opDig_Disabled = nullptr;
  QRadioButton* opDig_Enabled = nullptr;
  QPushButton* cmdAdio = nullptr;
  QPushButton* cmdFlash = nullptr;
  QPushButton* cmdClose = nullptr;

  // The last words read or composed for the alarm registers (ALM_CTRL's is the session's).
  int32_t AlmMag1Shadow = 0;
  int32_t AlmMag2Shadow = 0;
  int32_t AlmSmpl1Shadow = 0;
  int32_t AlmSmpl2Shadow = 0;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // One alarm's controls, so the two rows share their code.
  struct AlarmRow {
    int number;
    QComboBox* source;
    QLineEdit* level;
    QLabel* magLabel;
    QRadioButton* greater;
    QRadioButton* less;
    QLineEdit* average;
    QRadioButton* rateEnabled;
    QLabel* smplLabel;
  };

  void Form_Activate();
  QWidget* BuildAlarm(int number);
  QWidget* BuildIndicator();
  AlarmRow Row(int number) const;
  // The source code a list stands at, or -1 when it shows no entry (nothing chosen, or
  // typed text that is no entry's caption).
  static int SelectedSource(const QComboBox* list);
  // Both lists name an entry or show none; a typed text that names none is refused with a
  // message (false). A typed caption becomes the list's choice.
  bool SourcesNamed();
  void LevelToCode(const AlarmRow& row, int source, int32_t& shadow, int16_t index);
  void WriteAverage(const AlarmRow& row, int16_t index);
  QString Number(double value, const char* pattern) const;

  Application& app_;
  Session& session_;
  bool activated_ = false;
};

}  // namespace pemra
