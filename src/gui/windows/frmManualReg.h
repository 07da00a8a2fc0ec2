#pragma once
// "Register Information": any of the 32 register-table entries read or written by hand in
// hex, and a listing of all of them that can be rebuilt, saved to Registers_LOG.txt in the
// data directory, or printed. Beside the listing, the chosen register's fields (name, bits,
// value, meaning), each of which can be written alone. "Close Window" only hides the window, so its choices and its
// listing are still there at the next opening.

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>

class QComboBox;
class QGroupBox;
class QSpinBox;
class QTableWidget;
class QLineEdit;
class QPlainTextEdit;
class QPrinter;
class QPushButton;

namespace pemra {

class Application;
struct Session;

class frmManualReg : public QDialog {
  Q_OBJECT

 public:
  explicit frmManualReg(Application& app, QWidget* parent = nullptr);

  // Opens the window modally. It is loaded at the first opening and then kept, hidden,
  // until it is closed from its title bar; the next opening after that loads it afresh.
  static std::function<void(QWidget*)> Opener(Application& app);

  void cmboRegister_Click();
  void cmdRead_Click();
  void cmdWrite_Click();
  void cmdReadUserReg_Click();
  void cmdWriteFile_Click();
  void cmdPrint_Click();
  void cmdUpdateFlash_Click();
  void cmdClose_Click();
  // The field panel: a row of tblFields chosen, and its value written alone.
  void tblFields_Click();
  void cmdWriteField_Click();

  // Prints an image of the window, as it now shows, on one page of `printer`. A printer
  // that cannot be started is reported by name; returns whether a page was printed.
  bool PrintWindowImage(QPrinter& printer);

  // True once the window was closed from its title bar: the next opening loads it afresh.
  bool Unloaded() const { return unloaded_; }

  QComboBox* cmboRegister = nullptr;
  QLineEdit* txtRegAddr = nullptr;
  QLineEdit* txtRegByte = nullptr;
  QLineEdit* txtRegRead = nullptr;
  QLineEdit* txtRegWrite = nullptr;
  QPushButton* cmdRead = nullptr;
  QLineEdit* txtHex = nullptr;
  QLineEdit* txtRegVal = nullptr;
  QLineEdit* txtDataWrite = nullptr;
  QPushButton* cmdWrite = nullptr;
  QPlainTextEdit* Text1 = nullptr;
  QPushButton* cmdReadUserReg = nullptr;
  QPushButton* cmdWriteFile = nullptr;
  QPushButton* cmdPrint = nullptr;
  QPushButton* cmdClose = nullptr;
  QPushButton* cmdUpdateFlash = nullptr;
  QGroupBox* frameFields = nullptr;
  QTableWidget* tblFields = nullptr;      // Field, Bits, Value, Meaning
  QComboBox* cmboFieldValue = nullptr;    // a field whose values have names
  QSpinBox* spnFieldValue = nullptr;      // a count, level or code
  QPushButton* cmdWriteField = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void Form_Load();
  QWidget* BuildRegisterGroup();
  QWidget* BuildListingGroup();
  QWidget* BuildFieldsGroup();
  // Fills the field panel for the chosen entry from its word (no values when not read).
  void ShowFields(std::optional<int32_t> word);
  // The list's captions are the entries' current names (a model change renames some).
  void ShowRegisterNames();

  Application& app_;
  Session& session_;
  bool unloaded_ = false;
  // The list's index changed since its last activation (Qt signals the change first).
  bool changedBeforeActivation_ = false;
  // The word the field panel shows, and the last ALM_CTRL word read here (the source an
  // alarm level is read in).
  std::optional<int32_t> fieldsWord_;
  std::optional<int32_t> almCtrl_;
};

}  // namespace pemra
