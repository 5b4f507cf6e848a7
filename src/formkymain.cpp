#include "src/formkymain.h"

#include "lib/log.h"
#include "platform/dialogs.h"
#include "platform/net.h"
#include "platform/paths.h"
#include "src/artwork.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QWindow>

#include <cstring>
#include <optional>

std::string temp_dir = temp_dir_path();
std::string image_path;
char local_ip[32];
char machine_ip[32];
std::atomic<int> machine_index{0};

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

std::string log_path_for(const std::string &exe_path, const std::string &exe_name) {
  // Only the executable's own name counts: a folder of the same name further up the path
  // (/home/me/ZeVavi/build/ZeVavi) must not move the log out of the executable's folder.
  size_t cut = exe_path.find_last_of("/\\");
  size_t name_at = cut == std::string::npos ? 0 : cut + 1;
  if (exe_name.empty() || exe_path.compare(name_at, std::string::npos, exe_name) != 0)
    return "zevavi.log";
  return exe_path.substr(0, name_at) + "zevavi.log";
}

const char *executable_name() {
#ifdef _WIN32
  return "ZeVavi.exe";
#else
  return "ZeVavi";
#endif
}

const char *get_local_ip() {
  static char address_text[32];
  std::string address;
  if (!host_ipv4_address(address) || address.size() >= sizeof address_text)
    return nullptr;
  std::strcpy(address_text, address.c_str());
  return address_text;
}

VAzOdor::VAzOdor(Dialogs &dialogs, QWidget *owner, const std::string &log_path)
    : QWidget(owner), dialogs_(dialogs) {
  KyMain = this;
  build_controls();

  // A fresh log at every start, beside the executable; where that folder is read-only
  // (an installed copy) the log goes to the user's state folder instead.
  log_path_ = log_path.empty() ? log_path_for(executable_path(), executable_name()) : log_path;
  if (log_path.empty() && !can_write_file(log_path_))
    log_path_ = log_fallback_path();
  remove_file(log_path_);
  log_open(log_path_.c_str(), LOG_HEX);

  pcKyCtrl->tabBar()->hide();
  pcKyCtrl->setCurrentWidget(tabInput);
  plComTerminal->hide();
  set_outer_height(compact_height);

  status_count_ = 0;
  port_opened = 0;
  pbStatusGage->setValue(0);
  RTFLabel->hide();

  const char *address = get_local_ip();
  std::snprintf(local_ip, sizeof local_ip, "%s", address ? address : "");
  edtLocalIp->setText(QString::fromLatin1(local_ip));

  // The window menu: most Linux desktops draw no system menu to shorten, so the window
  // instead asks for a caption with only the close button (no minimise, no maximise), which
  // is what the shortened menu leaves a user on Windows.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

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
  ComTerminal = placed<QWidget>(plComTerminal, "ComTerminal", 0, 0, 352, 296);
  ComTerminal->setAutoFillBackground(true);
  QPalette black = ComTerminal->palette();
  black.setColor(QPalette::Window, Qt::black);
  black.setColor(QPalette::WindowText, Qt::white);
  ComTerminal->setPalette(black);
  ComTerminal->setFocusPolicy(Qt::StrongFocus);

  pcKyCtrl = placed<QTabWidget>(this, "pcKyCtrl", 0, 66, 352, 161);
  pcKyCtrl->setTabPosition(QTabWidget::South);
  pcKyCtrl->setDocumentMode(true);

  tabInput = new QWidget;
  tabInput->setObjectName(QStringLiteral("tabInput"));
  tabStatus = new QWidget;
  tabStatus->setObjectName(QStringLiteral("tabStatus"));
  pcKyCtrl->addTab(tabInput, QString());
  pcKyCtrl->addTab(tabStatus, QString());

  // Mostly clipped by the page control's lower edge, as the form places it.
  KyBlockIndicator1 = placed<QWidget>(pcKyCtrl, "KyBlockIndicator1", 24, 160, 50, 50);

  lbComPort = caption_label(tabInput, "lbComPort", "Port", 3, 27, 50);
  lbMachine = caption_label(tabInput, "lbMachine", "Machine", 4, 59, 49);
  lbFile = caption_label(tabInput, "lbFile", "Image", 3, 93, 50);
  lbLocalIp = caption_label(tabInput, "lbLocalIp", "Local IP", 167, 27, 59);
  lbMachineIp = caption_label(tabInput, "lbMachineIp", "Machine IP", 167, 59, 59);

  cbComPort = placed<QComboBox>(tabInput, "cbComPort", 63, 23, 96, 21);
  for (int n = 1; n <= 9; ++n)
    cbComPort->addItem(QStringLiteral("COM%1").arg(n));
  cbComPort->setCurrentIndex(-1);
  cbMachine = placed<QComboBox>(tabInput, "cbMachine", 63, 55, 96, 21);
  cbMachine->addItems({"KESTA", "MORVA", "PELIN", "TORQA"});
  cbMachine->setCurrentIndex(-1);
  edtLocalIp = placed<QLineEdit>(tabInput, "edtLocalIp", 235, 23, 96, 21);
  edtLocalIp->setEnabled(false);
  edtMachineIp = placed<QLineEdit>(tabInput, "edtMachineIp", 235, 55, 96, 21);
  edtMachineIp->setText(QStringLiteral("192.168.102.45"));
  edtFilePath = placed<QLineEdit>(tabInput, "edtFilePath", 63, 89, 252, 21);
  edtFilePath->setEnabled(false);
  btnOpenFileDialog = placed<QPushButton>(tabInput, "btnOpenFileDialog", 315, 89, 16, 21);
  btnOpenFileDialog->setText(QStringLiteral(">"));

  lvStatusText = placed<QListWidget>(tabStatus, "lvStatusText", 12, 11, 320, 103);
  lvStatusText->setFrameShape(QFrame::NoFrame);
  lvStatusText->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvStatusText->setEditTriggers(QAbstractItemView::NoEditTriggers);
  pbStatusGage = placed<QProgressBar>(tabStatus, "pbStatusGage", 12, 113, 320, 15);
  pbStatusGage->setRange(0, 100);
  pbStatusGage->setTextVisible(true);
  pbStatusGage->setOrientation(Qt::Horizontal);

  imgTop = new Banner(this, this);
  imgTop->setObjectName(QStringLiteral("imgTop"));
  imgTop->setGeometry(0, 0, 352, 66);
  imgTop->setPixmap(banner_artwork());
  imgBottom = placed<QLabel>(this, "imgBottom", 0, 209, 351, 45);
  imgBottom->setPixmap(bottom_artwork());
  imgBottom->lower();

  RTFLabel = placed<QLabel>(this, "RTFLabel", 34, 43, 289, 17);
  RTFLabel->setTextFormat(Qt::RichText);
  RTFLabel->setWordWrap(false);
  RTFLabel->setAlignment(Qt::AlignCenter);
  RTFLabel->setAttribute(Qt::WA_TranslucentBackground);
  RTFLabel->setText(QStringLiteral(
      "<span style=\"font-family:'%1'; font-size:8pt; font-weight:bold; color:#ff0000\">"
      "Please, start or restart your machine!</span>")
                        .arg(installed_family({"Arial", "Liberation Sans", "Arimo", "Nimbus Sans"})));

  btnStatus = placed<QPushButton>(this, "btnStatus", 176, 218, 80, 27);
  btnStatus->setText(QStringLiteral("Next"));
  btnExit = placed<QPushButton>(this, "btnExit", 264, 218, 80, 27);
  btnExit->setText(QStringLiteral("Exit"));
  connect(btnExit, &QPushButton::clicked, this, [this] { btnExitClick(); });

  // Tab order as the form gives it: the wizard button, the console, the pages (port,
  // machine IP, image, model, local IP, file button), then Exit.
  QWidget *order[] = {btnStatus,  ComTerminal, cbComPort,         edtMachineIp, edtFilePath,
                      cbMachine,  edtLocalIp,  btnOpenFileDialog, btnExit};
  for (size_t i = 0; i + 1 < std::size(order); ++i)
    QWidget::setTabOrder(order[i], order[i + 1]);
}

void VAzOdor::set_outer_height(int height) {
  setFixedSize(client_width, height - designed_caption_height);
}

void VAzOdor::show_status(int percent, const char *text) {
  std::optional<QString> line;
  if (text)
    line = QString::fromUtf8(text);
  auto apply = [this, percent, line] {
    int number = ++status_count_;
    if (line) {
      lvStatusText->addItem(QStringLiteral("%1. %2").arg(number).arg(*line));
      lvStatusText->setCurrentRow(lvStatusText->count() - 1);
      lvStatusText->scrollToItem(lvStatusText->currentItem());
    }
    pbStatusGage->setValue(percent);
  };
  if (on_gui_thread())
    apply();
  else
    post_to_gui(apply);
}

void VAzOdor::rm_dir() {
  static const char *const partition_files[] = {"boot_cfe_auto.jffs2", "kernel_cfe_auto.bin",
                                                "splash_cfe_auto.bin", "root_cfe_auto.jffs2"};
  remove_temp_files(partition_files, 4);
  ZV_LOG(LOG_DEBUG, "VAzOdor::rm_dir", "removed directory [%s]", temp_dir.c_str());
}

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

void VAzOdor::btnExitClick() { close(); }

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
  // The worker is not waited for: it may be blocked on the box, and closing must be immediate.
  thread_handle.detach();
  rm_dir();
  log_close();
}
