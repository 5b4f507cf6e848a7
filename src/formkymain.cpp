#include "src/formkymain.h"

#include "comport/serportctl.h"
#include "lib/log.h"
#include "lib/tftpthread.h"
#include "platform/comm.h"
#include "platform/dialogs.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "src/addresscheck.h"
#include "src/artwork.h"
#include "src/boxconsole.h"
#include "src/boxmodels.h"
#include "src/imageprep.h"
#include "src/unzipimage.h"
#include "src/upgradeengine.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <system_error>
#include <thread>

VAzOdor *KyMain = nullptr;

namespace {

constexpr int vk_f9 = 0x78;
constexpr int vk_f12 = 0x7B;

// The banner: any mouse button pressed on it moves the window (imgTopMouseDown).
class Banner final : public QLabel {
 public:
  Banner(VAzOdor *form, QWidget *parent) : QLabel(parent), form_(form) {}

 protected:
  void mousePressEvent(QMouseEvent *event) override {
    form_->imgTopMouseDown(event->globalPosition().toPoint());
  }
  void mouseMoveEvent(QMouseEvent *event) override {
    if (event->buttons() != Qt::NoButton)
      form_->drag_to(event->globalPosition().toPoint());
  }
  void mouseReleaseEvent(QMouseEvent *) override { form_->drag_end(); }

 private:
  VAzOdor *form_;
};

// The first of `families` that is installed. The form's Windows fonts are replaced by their
// metric twins where missing: the layout's fixed pixel geometry assumes their widths.
QString installed_family(std::initializer_list<const char *> families) {
  const QStringList have = QFontDatabase::families();
  for (const char *family : families)
    if (have.contains(QLatin1String(family), Qt::CaseInsensitive))
      return QLatin1String(family);
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QLabel *caption_label(QWidget *page, const char *name, const char *text, int x, int y, int w) {
  auto *label = new QLabel(QString::fromLatin1(text), page);
  label->setObjectName(QString::fromLatin1(name));
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setGeometry(x, y, w, 13);
  return label;
}

template <class W>
W *placed(QWidget *parent, const char *name, int x, int y, int w, int h) {
  auto *widget = new W(parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

}  // namespace

const char *get_local_ip() {
  static char address_text[32];
  std::string address;
  if (!host_ipv4_address(address) || address.size() >= sizeof address_text)
    return nullptr;
  std::strcpy(address_text, address.c_str());
  return address_text;
}

void dress_console(TComTerminal &terminal) {
  terminal.SetColor(0x000000);
  QFont console_font(QStringLiteral("Fixedsys"));
  console_font.setPixelSize(12);
  terminal.SetTermFont(console_font, 0xFFFFFF);
  terminal.SetEmulation(teVT100orANSI);
  terminal.SetRows(17);
  terminal.SetScrollBars(ssBoth);
}

VAzOdor::VAzOdor(Dialogs &dialogs, QWidget *owner, const std::string &log_path)
    : QWidget(owner), dialogs_(dialogs) {
  KyMain = this;
  build_controls();

  // The box's console: 115200 baud, 8N1, no flow control, DTR and RTS off.
  ComPort.BeginUpdate();
  set_box_console(ComPort, "COM1");
  ComPort.EndUpdate();
  ComTerminal->SetComPort(&ComPort);
  ComPort.OnDeviceLost = [this](TCustomComPort *sender, uint32_t error) { ComPortDeviceLost(sender, error); };

  // A fresh log at every start, beside the executable; where that folder is read-only
  // (an installed copy) the log goes to the user's own folder instead, and the window says
  // where, since the technician would look beside the program.
  log_path_ = log_path.empty() ? default_log_path("ZeVavi") : log_path;
  std::string refusal;
  if (FILE *log_file = nullptr; start_log_at(log_path_, refusal, &log_file)) {
    log_open_stream(log_file, LOG_HEX);
    show_log_place();
  } else {
    lbLogPath->setText(QString::fromLocal8Bit("No log: " + refusal));
    lbLogPath->show();
  }

  tabInput->SetTabVisible(false);
  tabStatus->SetTabVisible(false);
  pcKyCtrl->SetActivePageIndex(0);
  plComTerminal->hide();
  set_outer_height(compact_height);

  status_count_ = 0;
  port_opened = 0;
  pbStatusGage->SetPosition(0);
  RTFLabel->hide();

  const char *address = get_local_ip();
  std::snprintf(local_ip, sizeof local_ip, "%s", address ? address : "");
  edtLocalIp->setText(QString::fromLatin1(local_ip));
  offer_local_ips();

  // The window menu: most Linux desktops draw no system menu to shorten, so the window
  // instead asks for a caption with only the close button (no minimise, no maximise), which
  // is what the shortened menu leaves a user on Windows.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);

  if (QScreen *screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(client_width / 2, (full_height - designed_caption_height) / 2));
  }
  qApp->installEventFilter(this);
}

VAzOdor::~VAzOdor() {
  if (qApp)
    qApp->removeEventFilter(this);
  if (!closed_)
    FormClose();
  // The window is gone from the screen; the worker was told to stop and leaves within its
  // pass. It still uses this object (the port, the posts), so it must end before we do.
  thread_handle.join();
  // The terminal is a child widget and outlives this body; it must let go of the port
  // member before the port goes.
  ComTerminal->SetComPort(nullptr);
  try {
    ComPort.Close();
  } catch (const std::exception &) {
  }
  if (KyMain == this)
    KyMain = nullptr;
}

void VAzOdor::build_controls() {
  setObjectName(QStringLiteral("KyMain"));
  setWindowTitle(QStringLiteral("Ky+ Util"));
  QFont form_font(installed_family({"MS Sans Serif", "Liberation Sans", "Arimo", "Nimbus Sans"}));
  form_font.setPixelSize(11);
  form_font.setStyleHint(QFont::SansSerif);
  setFont(form_font);
  setAutoFillBackground(true);
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  setPalette(white);

  plComTerminal = placed<QFrame>(this, "plComTerminal", 0, 255, 352, 296);
  plComTerminal->setFrameShape(QFrame::NoFrame);
  ComTerminal = placed<TComTerminal>(plComTerminal, "ComTerminal", 0, 0, 352, 296);
  dress_console(*ComTerminal);
  ComTerminal->OnChar = [this](TCustomComTerminal *sender, char ch) { ComTerminalChar(sender, ch); };

  // Every skinned control of the form wears the WinXP look; the page control's border is
  // the form's grey, stored after the style.
  pcKyCtrl = placed<TskPageControl>(this, "pcKyCtrl", 0, 66, 352, 161);
  pcKyCtrl->SetTabPosition(skBottom);
  pcKyCtrl->SetLeftMargin(10);
  pcKyCtrl->SetUIStyle(WinXP);
  pcKyCtrl->SetBorderColor(6842472);

  tabInput = new TskTabSheet(pcKyCtrl);
  tabInput->setObjectName(QStringLiteral("tabInput"));
  tabStatus = new TskTabSheet(pcKyCtrl);
  tabStatus->setObjectName(QStringLiteral("tabStatus"));

  // Mostly clipped by the page control's lower edge, as the form places it; nothing drives
  // it, only its own timer runs.
  KyBlockIndicator1 = placed<TKyBlockIndicator>(pcKyCtrl, "KyBlockIndicator1", 24, 160, 50, 50);
  KyBlockIndicator1->Appearance().SetBlockColor(0xEECF00);
  KyBlockIndicator1->SetPadding(4);
  KyBlockIndicator1->Loaded();

  lbComPort = caption_label(tabInput, "lbComPort", "Port", 3, 27, 50);
  lbMachine = caption_label(tabInput, "lbMachine", "Machine", 4, 59, 49);
  lbFile = caption_label(tabInput, "lbFile", "Image", 3, 93, 50);
  lbLocalIp = caption_label(tabInput, "lbLocalIp", "Local IP", 167, 27, 59);
  lbMachineIp = caption_label(tabInput, "lbMachineIp", "Machine IP", 167, 59, 59);

  cbComPort = placed<TskComboBox>(tabInput, "cbComPort", 63, 23, 96, 21);
  cbComPort->SetUIStyle(WinXP);
  // COM1..COM9 as the form has them, and the serial ports this machine really has (USB
  // adapters among them), each port once and in port order; the system's list names COM1
  // too where the PC has one. A typed device path is taken as well, since a technician may
  // know the path of an adapter.
  std::vector<std::string> ports;
  for (int n = 1; n <= 9; ++n)
    ports.push_back("COM" + std::to_string(n));
  std::vector<std::string> devices;
  if (comm_enum_ports(devices) == COMM_OK)
    ports.insert(ports.end(), devices.begin(), devices.end());
  for (const std::string &port : comm_port_list(ports))
    cbComPort->addItem(QString::fromStdString(port));
  cbComPort->setEditable(true);
  cbComPort->setInsertPolicy(QComboBox::NoInsert);
  cbComPort->setCurrentIndex(-1);
  cbComPort->setEditText(QString());
  cbMachine = placed<TskComboBox>(tabInput, "cbMachine", 63, 55, 96, 21);
  cbMachine->SetUIStyle(WinXP);
  for (const BoxModel &model : box_models)
    cbMachine->addItem(QString::fromLatin1(model.name));
  cbMachine->setCurrentIndex(-1);
  edtLocalIp = placed<TskEdit>(tabInput, "edtLocalIp", 235, 23, 96, 21);
  edtLocalIp->SetUIStyle(WinXP);
  edtLocalIp->setEnabled(false);
  cbLocalIp = placed<TskComboBox>(tabInput, "cbLocalIp", 235, 23, 96, 21);
  cbLocalIp->SetUIStyle(WinXP);
  cbLocalIp->hide();
  connect(cbLocalIp, &QComboBox::currentTextChanged, this,
          [this](const QString &address) { take_local_ip(address); });
  edtMachineIp = placed<TskEdit>(tabInput, "edtMachineIp", 235, 55, 96, 21);
  edtMachineIp->SetUIStyle(WinXP);
  edtMachineIp->setText(QStringLiteral("192.168.102.45"));
  connect(edtMachineIp, &QLineEdit::textChanged, this, [this] { offer_local_ips(); });
  edtFilePath = placed<TskEdit>(tabInput, "edtFilePath", 63, 89, 252, 21);
  edtFilePath->SetUIStyle(WinXP);
  edtFilePath->setEnabled(false);
  btnOpenFileDialog = placed<TskButton>(tabInput, "btnOpenFileDialog", 315, 89, 16, 21);
  btnOpenFileDialog->SetUIStyle(WinXP);
  btnOpenFileDialog->setText(QStringLiteral(">"));

  lvStatusText = placed<TKyListView>(tabStatus, "lvStatusText", 12, 11, 320, 103);
  pbStatusGage = placed<TskProgressBar>(tabStatus, "pbStatusGage", 12, 113, 320, 15);
  pbStatusGage->SetUIStyle(WinXP);
  pbStatusGage->SetMin(0);
  pbStatusGage->SetMax(100);
  pbStatusGage->SetShowCaption(true);
  pbStatusGage->SetOrientation(skHorizontal);

  imgTop = new Banner(this, this);
  imgTop->setObjectName(QStringLiteral("imgTop"));
  imgTop->setGeometry(0, 0, 352, 66);
  imgTop->setPixmap(banner_artwork());
  imgBottom = placed<QLabel>(this, "imgBottom", 0, 209, 351, 45);
  imgBottom->setPixmap(bottom_artwork());
  imgBottom->lower();

  // The request to start the box, over the banner's plain lower band: the document as a
  // rich-edit control saves it (bold red Arial 8 pt, centred).
  RTFLabel = placed<TRTFLabel>(this, "RTFLabel", 34, 43, 289, 17);
  RTFLabel->SetTransparent(true);
  RTFLabel->SetWordWrap(false);
  RTFLabel->SetRichText(QByteArrayLiteral(
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1033{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}}\r\n"
      "{\\colortbl ;\\red255\\green0\\blue0;}\r\n"
      "\\viewkind4\\uc1\\pard\\qc\\cf1\\b\\f0\\fs16 Please, start or restart your machine!\\cf0\\b0\\par\r\n"
      "}\r\n"));

  // Not in the form: where the log is when it is not beside the program. Under the pages and
  // above the buttons, so it shows on both pages; selectable, so the path can be copied.
  lbLogPath = placed<QLabel>(this, "lbLogPath", 15, 199, 322, 13);
  lbLogPath->setTextInteractionFlags(Qt::TextSelectableByMouse);
  QPalette grey = lbLogPath->palette();
  grey.setColor(QPalette::WindowText, QColor(0x60, 0x60, 0x60));
  lbLogPath->setPalette(grey);
  lbLogPath->hide();

  btnStatus = placed<TskButton>(this, "btnStatus", 176, 218, 80, 27);
  btnStatus->SetUIStyle(WinXP);
  btnStatus->setText(QStringLiteral("Next"));
  btnExit = placed<TskButton>(this, "btnExit", 264, 218, 80, 27);
  btnExit->SetUIStyle(WinXP);
  btnExit->setText(QStringLiteral("Exit"));
  connect(btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });
  connect(btnStatus, &QPushButton::clicked, this, [this] { btnStatusClick(); });
  connect(btnOpenFileDialog, &QPushButton::clicked, this, [this] { btnOpenFileDialogClick(); });

  // Tab order as the form gives it: the wizard button, the console, the pages (port,
  // machine IP, image, model, local IP, file button), then Exit.
  QWidget *order[] = {btnStatus, ComTerminal, cbComPort, edtMachineIp,      edtFilePath,
                      cbMachine, edtLocalIp,  cbLocalIp, btnOpenFileDialog, btnExit};
  for (size_t i = 0; i + 1 < std::size(order); ++i)
    QWidget::setTabOrder(order[i], order[i + 1]);
}

void VAzOdor::show_log_place() {
  // Where the log lies beside the program, as everyone expects, nothing needs saying.
  const QFileInfo log(QString::fromLocal8Bit(log_path_));
  const QFileInfo exe(QString::fromLocal8Bit(executable_path()));
  if (log.absolutePath() == exe.absolutePath()) {
    lbLogPath->hide();
    return;
  }
  const QString path = QDir::toNativeSeparators(log.absoluteFilePath());
  lbLogPath->setToolTip(path);
  lbLogPath->setText(lbLogPath->fontMetrics().elidedText(QStringLiteral("Log: ") + path, Qt::ElideMiddle,
                                                         lbLogPath->width()));
  lbLogPath->show();
}

void VAzOdor::set_outer_height(int height) { setFixedSize(client_width, height - designed_caption_height); }

void VAzOdor::show_status(int percent, const char *text) {
  std::optional<QString> line;
  if (text)
    line = QString::fromUtf8(text);
  const bool from_worker = !on_gui_thread();
  auto apply = [this, percent, line, from_worker] {
    if (from_worker && upgrade_over_)
      return;
    int number = ++status_count_;
    if (line) {
      last_line_number_ = number;
      lvStatusText->Items().Add()->SetCaption(QStringLiteral("%1. %2").arg(number).arg(*line));
      lvStatusText->SelectItem(lvStatusText->Items().Count() - 1);
    }
    pbStatusGage->SetPosition(percent);
  };
  if (from_worker)
    post_from_worker(apply);
  else
    apply();
}

void VAzOdor::post_from_worker(std::function<void()> fn) {
  int generation = worker_generation_;
  QPointer<VAzOdor> self(this);
  post_to_gui([self, generation, fn = std::move(fn)] {
    if (self && generation == self->ui_generation_.load())
      fn();
  });
}

void VAzOdor::rm_dir() { remove_partition_files(); }

void VAzOdor::aeKyMainShortCut(int virtual_key, bool shift, bool ctrl) {
  if (!(shift && ctrl))
    return;
  if (virtual_key == vk_f9) {
    bool show = plComTerminal->isHidden();
    plComTerminal->setVisible(show);
    set_outer_height(show ? full_height : compact_height);
  } else if (virtual_key == vk_f12) {
    btnExit->setEnabled(!btnExit->isEnabled());
  }
}

void VAzOdor::imgTopMouseDown(QPoint global_pos) {
  // The window system moves the window as if its caption were dragged. Where it cannot
  // (no window manager, as under a bare X server), the window follows the mouse itself.
  QWindow *handle = windowHandle();
  dragging_ = !(handle && handle->startSystemMove());
  drag_offset_ = global_pos - pos();
}

void VAzOdor::drag_to(QPoint global_pos) {
  if (dragging_)
    move(global_pos - drag_offset_);
}

void VAzOdor::drag_end() { dragging_ = false; }

void VAzOdor::btnExitClick() {
  stop_worker();
  close();
}

bool VAzOdor::eventFilter(QObject *watched, QEvent *event) {
  // Key presses reach the window object first and then its focused widget; looking only at
  // window objects sees each key once, whichever control has the focus.
  if (event->type() == QEvent::KeyPress && watched->isWindowType() &&
      static_cast<QWindow *>(watched) == windowHandle()) {
    auto *key = static_cast<QKeyEvent *>(event);
    int virtual_key = key->key() == Qt::Key_F9 ? vk_f9 : key->key() == Qt::Key_F12 ? vk_f12 : 0;
    if (virtual_key)
      aeKyMainShortCut(virtual_key, key->modifiers() & Qt::ShiftModifier,
                       key->modifiers() & Qt::ControlModifier);
  }
  return QWidget::eventFilter(watched, event);
}

void VAzOdor::closeEvent(QCloseEvent *event) {
  FormClose();
  event->accept();
}

void VAzOdor::FormClose() {
  closed_ = true;
  // The worker is not waited for here: the window closes at once, and the worker, told to
  // stop, is collected when the window object goes; a transfer it waits on is cut short so
  // that this happens within a moment.
  stop_worker();
  tftp_abort();
  rm_dir();
  log_close();
}

// ---- the wizard ----

namespace {
const char *const checkup_name = "VAzOdor::do_checkup_info";
}  // namespace

void VAzOdor::btnStatusClick() {
  QString caption = btnStatus->text();
  if (caption == QLatin1String("Next"))
    wizard_next();
  else if (caption == QLatin1String("Start"))
    wizard_start();
  else if (caption == QLatin1String("Previous"))
    wizard_previous();
}

void VAzOdor::wizard_next() {
  if (!do_checkup_info())
    return;
  btnStatus->setText(QStringLiteral("Start"));
  pcKyCtrl->SetActivePageIndex(1);
}

int VAzOdor::do_checkup_info() {
  std::string port;
  if (!read_inputs(port) || !check_network() || !open_port(port))
    return 0;
  port_opened = 1;
  ZV_LOG(LOG_DEBUG, checkup_name, "machine[%d], local-ip[%s], machine-ip[%s], file[%s]", machine_index.load(),
         local_ip, machine_ip, image_path.c_str());
  return 1;
}

bool VAzOdor::read_inputs(std::string &port) {
  port = cbComPort->currentText().trimmed().toStdString();
  if (port.empty()) {
    dialogs_.message(this, "Please, Select ComPort!!");
    return false;
  }
  ComPort.SetPort(port);

  std::string refusal;
  const int index = chosen_machine(cbMachine->currentText().toStdString(), refusal);
  if (index < 0) {
    dialogs_.message(this, refusal);
    return false;
  }
  machine_index = index;

  std::string box_ip = edtMachineIp->text().toStdString();
  if (refusal = machine_ip_refusal(box_ip); !refusal.empty()) {
    dialogs_.message(this, refusal);
    return false;
  }
  std::snprintf(machine_ip, sizeof machine_ip, "%s", box_ip.c_str());

  if (refusal = image_choice_refusal(edtFilePath->text().toStdString()); !refusal.empty()) {
    dialogs_.message(this, refusal);
    return false;
  }
  image_path = edtFilePath->text().toStdString();
  return true;
}

bool VAzOdor::check_network() {
  // The flash commands tell the box to fetch from the PC's own address: without one there
  // is no upgrade. The network may have come up since start-up, so look again.
  choose_local_ip();
  if (local_ip[0] != '\0' && std::strcmp(local_ip, machine_ip) == 0) {
    dialogs_.message(this, std::string("The Machine-IP ") + machine_ip +
                               " is this PC's own address.\nType the address the machine is to use.");
    return false;
  }
  if (local_ip[0] == '\0') {
    ZV_LOG(LOG_WARN, checkup_name, "no local IP address");
    dialogs_.message(this,
                     "Can't find this PC's own IP address.\n"
                     "Connect the PC to the machine's network and press Next again.");
    return false;
  }

  // Two mistakes that otherwise show only minutes later as a bare error code from the box.
  if (std::string refusal = tftp_port_refusal(executable_path()); !refusal.empty()) {
    dialogs_.message(this, refusal);
    return false;
  }
  if (!pc_faces_box(local_ip, machine_ip)) {
    std::string question = std::string("This PC's address ") + local_ip +
                           " is not in the machine's subnet (" + machine_ip + ", mask 255.255.255.0).\n" +
                           "The machine will not reach this PC to fetch its images.\n" +
                           "Do you want to go on anyway?";
    if (!dialogs_.ask_yes_no(this, question))
      return false;
  }
  return true;
}

bool VAzOdor::open_port(const std::string &port) {
  uint32_t probe = comm_probe(port);
  if (probe != COMM_OK) {
    ZV_LOG(LOG_ERROR, checkup_name, "Can't open %s.", port.c_str());
    dialogs_.message(this, "Can't open " + port + ".");
    return false;
  }
  // The probe's handle is closed; give the driver a moment before the real open.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  try {
    ComPort.Open();
  } catch (const EComPort &error) {
    // The device took the probe but refused its settings (or vanished in between): say so
    // here rather than let the exception travel through the event loop.
    ZV_LOG(LOG_ERROR, checkup_name, "Can't open %s : %s", port.c_str(), error.what());
    dialogs_.message(this, "Can't open " + port + ".\n" + error.what());
    return false;
  }
  if (!ComPort.Connected()) {
    dialogs_.message(this, port + " is not connected.");
    return false;
  }
  return true;
}

void VAzOdor::offer_local_ips() {
  const std::vector<std::string> facing =
      addresses_facing(interface_ipv4_addresses(), edtMachineIp->text().trimmed().toStdString());
  const bool several = facing.size() > 1;
  if (several) {
    QStringList offered;
    for (const std::string &address : facing)
      offered << QString::fromStdString(address);
    const QString kept = cbLocalIp->isHidden() ? QString() : cbLocalIp->currentText();
    const QSignalBlocker quiet(cbLocalIp);
    cbLocalIp->clear();
    cbLocalIp->addItems(offered);
    cbLocalIp->setCurrentIndex(std::max(0, int(offered.indexOf(kept))));
  }
  cbLocalIp->setVisible(several);
  edtLocalIp->setVisible(!several);
  if (several)
    take_local_ip(cbLocalIp->currentText());
}

void VAzOdor::take_local_ip(const QString &address) {
  if (address.isEmpty() || address.size() >= int(sizeof local_ip))
    return;
  std::snprintf(local_ip, sizeof local_ip, "%s", address.toLatin1().constData());
  edtLocalIp->setText(address);
}

void VAzOdor::choose_local_ip() {
  // The network may have changed since the list was made; a pick still on it stays.
  offer_local_ips();
  if (!cbLocalIp->isHidden())
    return;
  std::string facing = address_facing(interface_ipv4_addresses(), machine_ip);
  if (facing.empty() && local_ip[0] == '\0') {
    const char *address = get_local_ip();
    facing = address ? address : "";
  }
  if (facing.empty() || facing.size() >= sizeof local_ip)
    return;
  std::snprintf(local_ip, sizeof local_ip, "%s", facing.c_str());
  edtLocalIp->setText(QString::fromLatin1(local_ip));
}

void VAzOdor::wizard_start() {
  if (!dialogs_.ask_yes_no(this, "For upgrade takes more than 5 minutes.\nDo you want to start upgrade?"))
    return;
  btnStatus->setText(QStringLiteral("Previous"));
  btnStatus->setEnabled(false);
  btnExit->setEnabled(false);
  show_status(10, "Extract the image.");

  if (!prepare_image() || !partitions_complete()) {
    btnStatus->setEnabled(true);
    btnExit->setEnabled(true);
    return;
  }
  if (!do_patch()) {
    dialogs_.message(this, "fail to patch!!");
    btnStatus->setEnabled(true);
    btnExit->setEnabled(true);
  }
}

bool VAzOdor::prepare_image() {
  PrepFailure failure;
  if (prepare_partitions([this] { return unzip(); }, failure))
    return true;
  show_status(0, failure.line.c_str());
  // A refusal means the user has to change something before Start can work: a status line
  // and a message, both naming what was refused and why.
  if (failure.refusal)
    dialogs_.message(this, failure.line);
  return false;
}

bool VAzOdor::partitions_complete() {
  std::string problem;
  if (partitions_ready(machine_index.load(), problem))
    return true;
  // As every other refusal of Start: the line stays in the list, the message makes sure it
  // is read before the technician looks at the box for an upgrade that never began.
  show_status(0, problem.c_str());
  dialogs_.message(this, problem);
  return false;
}

int VAzOdor::do_patch() {
  // A worker that the box's failure code let go may still be finishing its last pass; it
  // must be gone before a new one starts, or two would type into the same console.
  thread_handle.join();
  upgrade_over_ = false;
  worker_generation_ = ui_generation_.load();
  worker_port_name_ = cbComPort->currentText().toStdString();
  try {
    thread_handle.start([this] { threadCommandMain(this); });
  } catch (const std::system_error &error) {
    ZV_LOG(LOG_ERROR, "VAzOdor::do_patch", "fail to start write-thread!!");
    return 0;
  }
  std::ostringstream id;
  id << std::hex << thread_handle.id();
  ZV_LOG(LOG_INFO, "VAzOdor::do_patch", "start write-thread [%s]!!", id.str().c_str());
  return 1;
}

void VAzOdor::wizard_previous() {
  upgrade_step = 0;
  if (ComPort.Connected() && port_opened == 1) {
    ComPort.Close();
    port_opened = 0;
  }
  end_upgrade_now();
  thread_handle.join();

  // Changes the stopped worker posted but the GUI thread has not yet carried out belong to
  // the upgrade that is being left; they must not land on the fresh page.
  ++ui_generation_;
  btnStatus->setText(QStringLiteral("Next"));
  btnStatus->setEnabled(true);
  btnExit->setEnabled(true);
  pcKyCtrl->SetActivePageIndex(0);
  pbStatusGage->SetPosition(0);
  status_count_ = 0;
  lvStatusText->Items().Clear();
  RTFLabel->hide();
}

int VAzOdor::unzip() { return unzip_image(ZipArchiver, image_path, temp_dir); }

void VAzOdor::btnOpenFileDialogClick() {
  std::string path;
  if (dialogs_.open_file(this, image_file_filter, image_default_ext, path))
    edtFilePath->setText(QString::fromStdString(path));
}

void VAzOdor::ComTerminalChar(TCustomComTerminal *, char ch) { watcher_.on_char(ch, *this); }

void VAzOdor::release_upgrade() {
  upgrade_over_ = true;
  end_upgrade_now();
  // The worker is not waited for here: it leaves its loop at its next look at
  // worker_running. Previous, or the next Start, collects the thread.
}

void VAzOdor::end_upgrade_now() {
  stop_worker();
  // A transfer the box has given up on would otherwise hold the window until the server's
  // own time-outs run out.
  tftp_abort();
  tftp_stop(0);
}

void VAzOdor::ComPortDeviceLost(TCustomComPort *, uint32_t system_error) {
  const std::string port = ComPort.Port();
  ZV_LOG(LOG_ERROR, "VAzOdor::ComPortDeviceLost", "Lost the connection to %s : system error %u (%s)",
         port.c_str(), system_error, comm_error_text(system_error).c_str());
  if (port_opened != 1)
    return;
  // A worker that is still about counts as running even when its own failed write has just
  // ended it: the user must read that the line went, not only that a write failed.
  const bool running = worker_running.load() != 0 || thread_handle.running();
  upgrade_over_ = true;
  end_upgrade_now();
  // Before Start there is nothing to stop, but the user must know before pressing it.
  if (running || btnStatus->text() == QLatin1String("Start")) {
    std::string line = "Lost the connection to " + port + ".";
    show_status(0, line.c_str());
  }
  btnStatus->setEnabled(true);
  btnExit->setEnabled(true);
}

// ---- what the worker asks of the window (on the worker's thread) ----

bool VAzOdor::port_write(const char *bytes, int count, std::string &error) {
  return write_whole(ComPort, bytes, count, error);
}

void VAzOdor::set_exit_enabled(bool enabled) {
  post_from_worker([this, enabled] { btnExit->setEnabled(enabled); });
}

void VAzOdor::set_prompt_label_visible(bool visible) {
  post_from_worker([this, visible] { RTFLabel->setVisible(visible); });
}

void VAzOdor::worker_finished() {
  post_from_worker([this] {
    btnStatus->setEnabled(true);
    btnExit->setEnabled(true);
  });
}
