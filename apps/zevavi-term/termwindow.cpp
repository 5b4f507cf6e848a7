#include "apps/zevavi-term/termwindow.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QHBoxLayout>

#include "comport/serportctl.h"
#include "comport/serportctl_led.h"
#include "comport/serportctl_select.h"
#include "comport/serportsetup.h"
#include "comport/serporttrmset.h"
#include "platform/comm.h"
#include "platform/gui.h"
#include "platform/paths.h"
#include "platform/settingsstore.h"
#include "widgets/skin/skinbuttonfamily.h"

namespace {

// The window's own section; every other section is one port's settings, named after it.
const char kSection[] = "zevavi-term";
// The port's groups kept between runs: its line settings, flow control details, parity
// handling and the event character.
const TStoredProps kStoredProps{spBasic, spFlowControl, spParity, spOthers};

}  // namespace

std::string TermSettingsPath() { return settings_file_path("term.ini"); }

// ---- capture ----

TermCapture::TermCapture(TCustomComPort &Port) {
  splitter_.SetStopString("\r\n");
  // A line longer than this is written in pieces rather than held for ever.
  splitter_.SetMaxBufferSize(4096);
  splitter_.OnPacket = [this](TComDataPacket *, const std::string &Line) { WriteLine(Line); };
  splitter_.OnDiscard = [this](TComDataPacket *, const std::string &Text) { WriteLine(Text); };
  splitter_.SetComPort(&Port);
}

TermCapture::~TermCapture() { Stop(); }

bool TermCapture::Start(const QString &Path, QString &Reason) {
  Stop();
  file_.setFileName(Path);
  if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
    Reason = QStringLiteral("The capture file %1 cannot be opened (%2).").arg(Path, file_.errorString());
    return false;
  }
  path_ = Path;
  return true;
}

void TermCapture::Stop() {
  if (!file_.isOpen())
    return;
  // A last line without its CR LF still belongs in the file.
  splitter_.EmptyBuffer();
  file_.close();
}

void TermCapture::WriteLine(const std::string &Line) {
  if (!file_.isOpen())
    return;
  const QByteArray stamp =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).toUtf8();
  QByteArray record = "[" + stamp + "] " + QByteArray::fromStdString(Line) + "\n";
  file_.write(record);
  // Each line reaches the disk as it completes, so the file is useful while the box runs.
  file_.flush();
}

// ---- window ----

TermWindow::TermWindow(const std::string &SettingsPath, const std::string &Port, QWidget *Parent)
    : QMainWindow(Parent), settings_path_(SettingsPath) {
  setWindowTitle(QStringLiteral("zevavi-term"));
  port_.SetStoredProps(kStoredProps);
  port_.SetBaudRate(br115200);  // the boot loader's console, unless settings say otherwise

  terminal_ = new TComTerminal(this);
  terminal_->SetComPort(&port_);
  setCentralWidget(terminal_);

  std::string name = Port;
  try {
    const IniFile ini(settings_path_);
    if (name.empty())
      name = ini.ReadString(kSection, "Port", {});
    auto_reopen_ = ini.ReadInteger(kSection, "Reopen", 1) != 0;
  } catch (const std::exception &e) {
    ShowError(QString::fromStdString(e.what()));
  }
  // Once a second is soon enough for a person pushing a plug back, and cheap: a probe is one
  // open and close of a device node.
  reopen_timer_ = new QTimer(this);
  reopen_timer_->setInterval(1000);
  connect(reopen_timer_, &QTimer::timeout, this, &TermWindow::TryReopen);
  BuildToolbar();
  status_ = new QLabel(this);
  statusBar()->addWidget(status_, 1);
  BuildLamps();
  // With no port named anywhere, the port's own default (COM1) is the one kept.
  SelectPort(name.empty() ? port_.Port() : name);
  LoadTerminalSettings();
  RefreshSelectors();
  ShowState();
  port_.OnDeviceLost = [this](TCustomComPort *, uint32_t) {
    // Not inside the port's own event: closing the port there would wait on the thread that
    // reports. Through the hand-off, to a window that may be gone by then.
    post_to_gui([window = QPointer<TermWindow>(this)] {
      if (window)
        window->LineLost();
    });
  };
}

void TermWindow::SetAutoReopen(bool On) {
  auto_reopen_ = On;
  if (reopen_button_)
    reopen_button_->setChecked(On);
  if (!On)
    reopen_timer_->stop();
}

bool TermWindow::AwaitingDevice() const { return reopen_timer_->isActive(); }

void TermWindow::LineLost() {
  if (!port_.Connected())
    return;
  const QString name = QString::fromStdString(port_.Port());
  try {
    port_.Close();
  } catch (const std::exception &) {
    // The device is gone; what closing it could not release goes with it.
  }
  ShowState();
  if (auto_reopen_) {
    reopen_timer_->start();
    ShowError(QStringLiteral("The line %1 went away; the port is closed and opens again when it is back.")
                  .arg(name));
  } else {
    ShowError(QStringLiteral("The line %1 went away; the port is closed.").arg(name));
  }
}

void TermWindow::TryReopen() {
  if (!auto_reopen_ || port_.Connected()) {
    reopen_timer_->stop();
    return;
  }
  if (comm_probe(port_.Port()) != COMM_OK)
    return;
  reopen_timer_->stop();
  if (OpenPort())
    status_->setText(status_->text() + QStringLiteral("  (the line came back)"));
}

TermWindow::~TermWindow() {
  capture_.Stop();
  terminal_->SetComPort(nullptr);
  try {
    port_.Close();
  } catch (const std::exception &) {
    // Closing a port whose device is gone may fail; there is nobody left to tell.
  }
}

void TermWindow::BuildToolbar() {
  QToolBar *bar = addToolBar(QStringLiteral("Port"));
  bar->setMovable(false);
  // Flat skinned buttons in the program's own look; a bar's plain actions would not be.
  auto add_button = [this, bar](const QString &caption, auto slot) {
    auto *button = new TskToolBarSpeedButton(caption, bar);
    button->SetUIStyle(WinXP);
    connect(button, &QAbstractButton::clicked, this, slot);
    bar->addWidget(button);
    return button;
  };
  open_button_ = add_button(QStringLiteral("Open"), [this] {
    reopen_timer_->stop();  // the user decides now
    if (port_.Connected())
      ClosePort();
    else
      OpenPort();
  });
  const TComProperty properties[] = {cpPort, cpBaudRate, cpDataBits, cpParity, cpStopBits, cpFlowControl};
  const char *tips[] = {"Port", "Baud rate", "Data bits", "Parity", "Stop bits", "Flow control"};
  for (int i = 0; i < 6; ++i) {
    auto *box = new TComComboBox(bar);
    box->setToolTip(QString::fromLatin1(tips[i]));
    try {
      box->SetComProperty(properties[i]);
    } catch (const std::exception &e) {
      ShowError(QString::fromStdString(e.what()));  // no port list: the typed name still works
    }
    box->SetComPort(&port_);
    if (properties[i] == cpPort) {
      // A new port brings its own stored settings, so the window chooses it itself.
      connect(box, &QComboBox::activated, this, [this, box](int) { SelectPort(box->Text()); });
    } else {
      box->SetAutoApply(true);
      connect(box, &QComboBox::activated, this, [this](int) { ShowState(); });
    }
    selectors_[i] = box;
    bar->addWidget(box);
  }
  bar->addSeparator();
  add_button(QStringLiteral("Port setup…"), [this] { PortSetup(); });
  add_button(QStringLiteral("Terminal setup…"), [this] { TerminalSetup(); });
  capture_button_ = add_button(QStringLiteral("Capture…"), [this] { ToggleCapture(); });
  reopen_button_ = add_button(QStringLiteral("Reopen"), [this](bool on) { SetAutoReopen(on); });
  reopen_button_->setCheckable(true);
  reopen_button_->setChecked(auto_reopen_);
  reopen_button_->setToolTip(QStringLiteral("Open the port again by itself when its device comes back"));
}

void TermWindow::BuildLamps() {
  // The lamps sit at the right of the status bar, where they stay in view however narrow
  // the window is.
  auto *lamps = new QWidget(this);
  auto *row = new QHBoxLayout(lamps);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(2);
  const struct {
    const char *label;
    TComLedSignal signal;
    TLedKind kind;
  } kinds[LedCount] = {
      {"Open", lsConn, lkGreenLight}, {"CTS", lsCTS, lkYellowLight}, {"DSR", lsDSR, lkYellowLight},
      {"CD", lsRLSD, lkYellowLight},  {"RI", lsRing, lkBulb},        {"Rx", lsRx, lkRedLight},
      {"Tx", lsTx, lkBlueLight},
  };
  for (int i = 0; i < LedCount; ++i) {
    auto *led = new TComLed(lamps);
    led->setFixedSize(25, 25);
    led->SetKind(kinds[i].kind);
    led->SetLedSignal(kinds[i].signal);
    led->SetComPort(&port_);
    auto *label = new QLabel(QString::fromLatin1(kinds[i].label), lamps);
    row->addWidget(led);
    row->addWidget(label);
    row->addSpacing(4);
    leds_[i] = led;
  }
  statusBar()->addPermanentWidget(lamps);
}

void TermWindow::ShowError(const QString &Text) {
  if (!status_)
    return;
  status_->setStyleSheet(QStringLiteral("color: #b00000"));
  status_->setText(Text);
}

QString TermWindow::StatusText() const { return status_->text(); }

void TermWindow::ShowState() {
  open_button_->setText(port_.Connected() ? QStringLiteral("Close") : QStringLiteral("Open"));
  capture_button_->setText(capture_.Active() ? QStringLiteral("Stop capture") : QStringLiteral("Capture…"));
  QString text = QString::fromStdString(port_.Port()) + "  " +
                 QString::fromStdString(BaudRateToStr(port_.BaudRate())) + " " +
                 QString::fromStdString(DataBitsToStr(port_.DataBits())) +
                 QString::fromStdString(ParityToStr(port_.Parity().Bits())).left(1) +
                 QString::fromStdString(StopBitsToStr(port_.StopBits())) + "  " +
                 (port_.Connected() ? QStringLiteral("open") : QStringLiteral("closed"));
  if (capture_.Active())
    text += QStringLiteral("  capturing to ") + capture_.Path();
  status_->setStyleSheet({});
  status_->setText(text);
  setWindowTitle(QStringLiteral("zevavi-term - ") + QString::fromStdString(port_.Port()));
}

void TermWindow::RefreshSelectors() {
  for (TComComboBox *box : selectors_)
    box->UpdateSettings();
}

void TermWindow::SelectPort(const std::string &Name) {
  if (Name.empty() || (Name == port_.Name() && Name == port_.Port()))
    return;
  reopen_timer_->stop();  // another line: the one that went away is not awaited any more
  if (!port_.Name().empty() && port_.Name() == port_.Port())
    SaveSettings();  // the settings of the port being left
  selectors_[0]->AddItem(Name);
  port_.SetName(Name);
  try {
    port_.SetPort(Name);  // an open port re-opens on the new line
    LoadPortSettings();
  } catch (const std::exception &e) {
    RefreshSelectors();
    ShowState();
    ShowError(QString::fromStdString(e.what()));
    return;
  }
  RefreshSelectors();
  ShowState();
}

void TermWindow::LoadPortSettings() {
  const IniFile ini(settings_path_);
  if (!ini.ValueExists(port_.Name(), "Port"))
    return;
  port_.LoadSettings(stIniFile, settings_path_);
  // The section is this port's, whatever its "Port" line says.
  port_.SetPort(port_.Name());
}

void TermWindow::LoadTerminalSettings() {
  try {
    const IniFile ini(settings_path_);
    TComTerminal &t = *terminal_;
    auto flag = [&](const char *key, bool current) {
      return ini.ReadInteger(kSection, key, current ? 1 : 0) != 0;
    };
    t.SetLocalEcho(flag("LocalEcho", t.LocalEcho()));
    t.SetSendLF(flag("SendLF", t.SendLF()));
    t.SetWrapLines(flag("WrapLines", t.WrapLines()));
    t.SetForce7Bit(flag("Force7Bit", t.Force7Bit()));
    t.SetAppendLF(flag("AppendLF", t.AppendLF()));
    const int caret = ini.ReadInteger(kSection, "Caret", t.Caret());
    if (caret >= tcBlock && caret <= tcNone)
      t.SetCaret(static_cast<TTermCaret>(caret));
    const int emulation = ini.ReadInteger(kSection, "Emulation", t.Emulation());
    if (emulation >= teVT100orANSI && emulation <= teNone)
      t.SetEmulation(static_cast<TTermEmulation>(emulation));
    t.SetColumns(ini.ReadInteger(kSection, "Columns", t.Columns()));
    t.SetRows(ini.ReadInteger(kSection, "Rows", t.Rows()));
    const int keys = ini.ReadInteger(kSection, "ArrowKeys", t.ArrowKeys());
    if (keys == akTerminal || keys == akWindows)
      t.SetArrowKeys(static_cast<TArrowKeys>(keys));
  } catch (const std::exception &e) {
    ShowError(QString::fromStdString(e.what()));
  }
}

bool TermWindow::SaveSettings() {
  try {
    if (!port_.Name().empty())
      port_.StoreSettings(stIniFile, settings_path_);
    IniFile ini(settings_path_);
    const TComTerminal &t = *terminal_;
    ini.WriteString(kSection, "Port", port_.Port());
    ini.WriteInteger(kSection, "Reopen", auto_reopen_ ? 1 : 0);
    ini.WriteInteger(kSection, "LocalEcho", t.LocalEcho());
    ini.WriteInteger(kSection, "SendLF", t.SendLF());
    ini.WriteInteger(kSection, "WrapLines", t.WrapLines());
    ini.WriteInteger(kSection, "Force7Bit", t.Force7Bit());
    ini.WriteInteger(kSection, "AppendLF", t.AppendLF());
    ini.WriteInteger(kSection, "Caret", t.Caret());
    ini.WriteInteger(kSection, "Emulation", t.Emulation());
    ini.WriteInteger(kSection, "Columns", t.Columns());
    ini.WriteInteger(kSection, "Rows", t.Rows());
    ini.WriteInteger(kSection, "ArrowKeys", t.ArrowKeys());
    ini.UpdateFile();
    return true;
  } catch (const std::exception &e) {
    ShowError(QStringLiteral("The settings were not saved to %1: %2")
                  .arg(QString::fromStdString(settings_path_), QString::fromStdString(e.what())));
    return false;
  }
}

bool TermWindow::OpenPort() {
  try {
    port_.Open();
  } catch (const std::exception &e) {
    ShowState();
    ShowError(QString::fromStdString(e.what()));
    return false;
  }
  ShowState();
  terminal_->setFocus();
  return true;
}

void TermWindow::ClosePort() {
  try {
    port_.Close();
  } catch (const std::exception &e) {
    ShowError(QString::fromStdString(e.what()));
    return;
  }
  ShowState();
}

bool TermWindow::StartCapture(const QString &Path) {
  QString reason;
  if (!capture_.Start(Path, reason)) {
    ShowState();
    ShowError(reason);
    return false;
  }
  ShowState();
  return true;
}

void TermWindow::StopCapture() {
  capture_.Stop();
  ShowState();
}

void TermWindow::ToggleCapture() {
  if (capture_.Active()) {
    StopCapture();
    return;
  }
  const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Capture to"), QString(),
                                                    QStringLiteral("Text files (*.txt *.log);;All files (*)"),
                                                    nullptr, QFileDialog::DontConfirmOverwrite);
  if (!path.isEmpty())
    StartCapture(path);
}

void TermWindow::PortSetup() {
  const std::string before = port_.Port();
  try {
    EditComPort(&port_, this);
  } catch (const std::exception &e) {
    RefreshSelectors();
    ShowState();
    ShowError(QString::fromStdString(e.what()));
    return;
  }
  if (port_.Port() != before) {
    // The dialog moved the port to another line: that line's settings are what it chose.
    port_.SetName(port_.Port());
    selectors_[0]->AddItem(port_.Port());
  }
  RefreshSelectors();
  ShowState();
}

void TermWindow::TerminalSetup() { EditComTerminal(terminal_, this); }

void TermWindow::closeEvent(QCloseEvent *Event) {
  SaveSettings();
  QMainWindow::closeEvent(Event);
}
