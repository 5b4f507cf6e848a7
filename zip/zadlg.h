// TZipDialogBox: the component's own message and password dialog, built at run time.
//
// The dialog context's low 16 bits name the use (10000 information, 10001 error, 10002..10005
// password requests, 10015 erase confirmation), bits 16..20 the kind, which picks the icon and
// the beep (0x10 warning, 0x11 error, 0x12 information, 0x13 question, 0x14 password entry).
// GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

#include <initializer_list>

class QLabel;
class QLineEdit;
class QPushButton;

enum TMsgDlgBtn {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};

// A set of TMsgDlgBtn, one bit per kind.
using TMsgDlgButtons = unsigned;
constexpr TMsgDlgButtons ZipButtons(std::initializer_list<TMsgDlgBtn> kinds) {
  TMsgDlgButtons s = 0;
  for (TMsgDlgBtn k : kinds)
    s |= 1u << k;
  return s;
}

// The dialog result of a button kind (mbYes 6, mbNo 7, mbOK 1, mbCancel 2, mbAbort 3, mbRetry 4,
// mbIgnore 5, mbAll 8, mbNoToAll 9, mbYesToAll 10, mbHelp 0) and its caption's message id.
int ZipButtonResult(TMsgDlgBtn kind);
int ZipButtonCaptionId(TMsgDlgBtn kind);

// Context kinds.
constexpr int kZipKindWarning = 0x10, kZipKindError = 0x11, kZipKindInfo = 0x12, kZipKindQuestion = 0x13,
              kZipKindPassword = 0x14;
constexpr int ZipContext(int kind, int id) { return (kind << 16) | id; }

class TZipDialogBox : public QDialog {
  Q_OBJECT
 public:
  TZipDialogBox(QWidget *parent, int context);

  // Lays the dialog out: caption, word-wrapped text, an icon for the context's kind, a
  // password edit for the password kind, and the buttons in their fixed order, centred.
  void Build(const QString &title, const QString &text, TMsgDlgButtons buttons);

  int Context() const { return context_; }
  int Kind() const;
  QString PasswordText() const;
  // Beeps for the kind, then runs the dialog modally; the result is a button's result.
  int ShowModalResult();

  // Escape and the close box act as the cancel button: mbCancel, else mbNo, else mbOK.
  void reject() override;

 private:
  int context_;
  int cancel_result_ = 2;
  QLabel *text_ = nullptr;
  QLineEdit *edit_ = nullptr;
};
