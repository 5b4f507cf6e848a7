// The window of zevavi-term: a serial console on one port, with the port's settings in a
// toolbar, lamps for its lines and its traffic, the two setup dialogs, settings kept per
// port between runs, and an optional capture of the received lines to a file.
#pragma once

#include <QFile>
#include <QMainWindow>
#include <string>

#include "comport/serport.h"
#include "comport/serportpacket.h"

class QAction;
class QLabel;
class QTimer;
class TComComboBox;
class TComLed;
class TComTerminal;
class TskToolBarSpeedButton;

// Where the settings live: ${XDG_CONFIG_HOME:-$HOME/.config}/zevavi/term.ini, on Windows
// %APPDATA%\zevavi\term.ini.
std::string TermSettingsPath();

// Writes each received line (ended by CR LF) to a file with the time it completed.
class TermCapture {
 public:
  explicit TermCapture(TCustomComPort &Port);
  ~TermCapture();
  // Starts writing to Path (appending); false with a reason when it cannot be opened.
  bool Start(const QString &Path, QString &Reason);
  void Stop();
  bool Active() const { return file_.isOpen(); }
  const QString &Path() const { return path_; }

 private:
  void WriteLine(const std::string &Line);
  TComDataPacket splitter_;
  QFile file_;
  QString path_;
};

class TermWindow : public QMainWindow {
  Q_OBJECT
 public:
  // Settings are read from and written to SettingsPath; Port, when not empty, is the port
  // to use instead of the last one used.
  TermWindow(const std::string &SettingsPath, const std::string &Port, QWidget *Parent = nullptr);
  ~TermWindow() override;

  // Opens or closes the port; a failure is shown in the status bar and returned as false.
  bool OpenPort();
  void ClosePort();
  bool StartCapture(const QString &Path);
  void StopCapture();
  // Writes the current port's settings and the terminal's to the settings file.
  bool SaveSettings();
  // After the device went away, open the port again by itself once the same device is back
  // (a bench adapter pulled and pushed back). On unless the settings say otherwise.
  bool AutoReopen() const { return auto_reopen_; }
  void SetAutoReopen(bool On);
  // The device is gone and the window is watching for it to come back.
  bool AwaitingDevice() const;

  TComPort &Port() { return port_; }
  TComTerminal *Terminal() const { return terminal_; }
  TComLed *Led(int Index) const { return leds_[Index]; }
  TermCapture &Capture() { return capture_; }
  QString StatusText() const;

  // The lamps, in the order the toolbar shows them.
  enum LedIndex { ConnLed, CtsLed, DsrLed, RlsdLed, RingLed, RxLed, TxLed, LedCount };

 protected:
  void closeEvent(QCloseEvent *Event) override;

 private:
  void BuildToolbar();
  void BuildLamps();
  void SelectPort(const std::string &Name);
  void LoadPortSettings();
  void LoadTerminalSettings();
  void RefreshSelectors();
  void ShowError(const QString &Text);
  void ShowState();
  void PortSetup();
  void TerminalSetup();
  void ToggleCapture();
  // The device went away: the port is closed and, when wanted, watched for its return.
  void LineLost();
  void TryReopen();

  std::string settings_path_;
  // The controls bound to the port are children of the window, deleted by ~QWidget after
  // the port is gone: the lamps and selectors let go of it when it is destroyed, and the
  // destructor unbinds the terminal first.
  TComPort port_;
  TermCapture capture_{port_};
  TComTerminal *terminal_ = nullptr;
  TComComboBox *selectors_[6] = {};
  TComLed *leds_[LedCount] = {};
  TskToolBarSpeedButton *open_button_ = nullptr;
  TskToolBarSpeedButton *capture_button_ = nullptr;
  TskToolBarSpeedButton *reopen_button_ = nullptr;
  QLabel *status_ = nullptr;
  bool auto_reopen_ = true;
  QTimer *reopen_timer_ = nullptr;
};
