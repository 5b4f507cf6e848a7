// The program's one window: the wizard's input and status pages, the console panel, the
// buttons, and the operations the wizard's parts share (status lines, the PC's address,
// removal of the partition files).
#pragma once

#include "comport/serport.h"
#include "zip/ziparchiver.h"
#include "platform/gui.h"
#include "src/consolewatch.h"
#include "src/upgrade.h"
#include "src/wizardstate.h"
#include "widgets/lists/kyblockindicator.h"
#include "widgets/lists/kylistview.h"
#include "widgets/lists/rtflabel.h"
#include "widgets/skin/skinbutton.h"
#include "widgets/skin/skinedit.h"
#include "widgets/skin/skinpagecontrol.h"
#include "widgets/skin/skinprogressbar.h"

#include <QPoint>
#include <QWidget>

#include <atomic>
#include <functional>
#include <string>

class Dialogs;
class QFrame;
class QLabel;
class TComTerminal;
class TCustomComTerminal;

// The PC's own IPv4 address as dotted text in a static buffer, or null when it cannot be found.
const char *get_local_ip();

// The look of the box's console in the console panel: white on black, VT100, 17 rows.
void dress_console(TComTerminal &terminal);

class VAzOdor : public QWidget, public UpgradeHost, public WatcherHost {
  Q_OBJECT

 public:
  // The window's outer heights: full with the console panel, compact without it. The outer
  // height counts a caption bar of designed_caption_height above the client area.
  static constexpr int full_height = 578;
  static constexpr int compact_height = 281;
  static constexpr int designed_caption_height = 27;
  static constexpr int client_width = 352;

  // `dialogs` answers the window's questions and must outlive it. `log_path` overrides the
  // log path rule (tests); empty means the rule applies.
  explicit VAzOdor(Dialogs &dialogs, QWidget *owner = nullptr, const std::string &log_path = {});
  ~VAzOdor() override;

  // Appends "%d. %s" (running number, text) to the status list when text is given, and sets
  // the progress bar. Callable from any thread: lines appear in the order each thread issued them.
  void show_status(int percent, const char *text) override;

  // Deletes the four partition files and the partition folder; failures are ignored.
  void rm_dir();

  // The keyboard shortcuts: Ctrl+Shift+F9 shows or hides the console, Ctrl+Shift+F12
  // enables or disables Exit. `virtual_key` is the Windows key code (F9 0x78, F12 0x7B).
  void aeKyMainShortCut(int virtual_key, bool shift, bool ctrl);

  // Starts moving the window with the mouse, as if its caption were dragged; the banner
  // then reports the mouse's moves (drag_to) and the release (drag_end).
  void imgTopMouseDown(QPoint global_pos);
  void drag_to(QPoint global_pos);
  void drag_end();

  // The wizard button: "Next" checks the inputs and opens the port, "Start" prepares the
  // image and starts the worker, "Previous" stops everything and returns to the inputs.
  void btnStatusClick();
  // 1 when the inputs are complete and the port is open, else 0 (the user has been told why).
  int do_checkup_info();
  // Starts the upgrade worker: 1, or 0 when the thread could not be started.
  int do_patch();
  void btnExitClick();
  void btnOpenFileDialogClick();
  // The terminal's per-character event: the console watcher.
  void ComTerminalChar(TCustomComTerminal *sender, char ch);
  // The serial device went away while open: whatever runs is ended and the user is told.
  void ComPortDeviceLost(TCustomComPort *sender, uint32_t system_error);
  // Extracts the zip image into temp_dir: 0, or the archive component's error id.
  int unzip();

  // UpgradeHost: called on the worker's thread; window changes are handed to the GUI thread.
  bool port_write(const char *data, int count, std::string &error) override;
  void set_exit_enabled(bool enabled) override;
  void set_prompt_label_visible(bool visible) override;
  void worker_finished() override;
  std::string port_name() const override { return worker_port_name_; }
  int last_line_number() const override { return last_line_number_.load(); }

  // WatcherHost: called on the GUI thread.
  int machine() const override { return machine_index.load(); }
  int status_count() const override { return status_count_.load(); }  // also for tests
  void release_upgrade() override;

  bool worker_alive() const { return thread_handle.running(); }

  int outer_height() const { return height() + designed_caption_height; }
  const std::string &log_path() const { return log_path_; }

  // The window's controls, named as in its form.
  QFrame *plComTerminal;
  TskPageControl *pcKyCtrl;
  TskTabSheet *tabInput;
  QLabel *lbComPort, *lbMachineIp, *lbFile;
  TskEdit *edtFilePath;
  TskEdit *edtMachineIp;
  TskComboBox *cbComPort;
  TskTabSheet *tabStatus;
  TskProgressBar *pbStatusGage;
  QLabel *imgTop;
  TskButton *btnStatus;
  QLabel *imgBottom;
  TComTerminal *ComTerminal;
  TskButton *btnExit;
  TKyListView *lvStatusText;
  TskComboBox *cbMachine;
  QLabel *lbMachine, *lbLocalIp;
  TskEdit *edtLocalIp;
  // Not in the form: in edtLocalIp's place when several of the PC's addresses face the box,
  // so the technician can pick the one cabled to it.
  TskComboBox *cbLocalIp;
  TskButton *btnOpenFileDialog;
  TKyBlockIndicator *KyBlockIndicator1;
  TRTFLabel *RTFLabel;
  QLabel *lbLogPath;  // not in the form: the log's place, when it is not beside the program
  TComPort ComPort;
  TZipArchiver ZipArchiver;

 protected:
  void closeEvent(QCloseEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;

 private:
  void build_controls();
  void set_outer_height(int height);
  // Shows lbLogPath with the log's full path when the log is not beside the executable.
  void show_log_place();
  void FormClose();
  void wizard_next();
  void wizard_start();
  void wizard_previous();
  // The three steps of do_checkup_info, in order; each tells the user why it refuses.
  // The window's inputs, each checked and stored; `port` receives the chosen port's name.
  bool read_inputs(std::string &port);
  // The PC faces the box: an address of its own, port 69 to serve from, the box's subnet.
  bool check_network();
  // Probes and opens the chosen port.
  bool open_port(const std::string &port);
  // Prepares the image at Start: 1 when the partition files are in temp_dir.
  bool prepare_image();
  // Every partition the chosen model's steps will serve is there and not empty; otherwise
  // a line names the first one missing and nothing may reach the box.
  bool partitions_complete();
  // The PC address facing the box: the PC's own address in the box's /24 where it has one,
  // the technician's pick where several are offered.
  void choose_local_ip();
  // Offers the PC's addresses facing the typed box address in cbLocalIp when there are
  // several, keeping the current choice while it is still one of them.
  void offer_local_ips();
  void take_local_ip(const QString &address);
  // Ends what runs of an upgrade from the GUI thread without waiting long for it.
  void end_upgrade_now();
  // Runs fn on the GUI thread unless Previous has reset the wizard since the worker started,
  // so that a late change from a stopping worker never lands on the fresh input page.
  void post_from_worker(std::function<void()> fn);

  Dialogs &dialogs_;
  std::string log_path_;
  GuiJoinableThread thread_handle;
  std::atomic<int> status_count_{0};
  std::atomic<int> last_line_number_{0};
  // Set once the box's failure code or a lost line has ended the upgrade: late progress from
  // the stopping worker must not overwrite the failure's 0 %.
  bool upgrade_over_ = false;
  std::atomic<int> ui_generation_{0};
  int worker_generation_ = 0;
  std::string worker_port_name_;
  ConsoleWatcher watcher_;
  int port_opened = 0;
  bool closed_ = false;
  bool dragging_ = false;
  QPoint drag_offset_;
};

// The one main window, while it exists.
extern VAzOdor *KyMain;
