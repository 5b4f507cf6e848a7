// The port-bound controls and the two setup dialogs, on Qt's offscreen platform, bound to a
// port on the fake line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QTimer>
#include <memory>
#include <set>

#include "comport/serport.h"
#include "comport/serportctl.h"
#include "comport/serportpacket.h"
#include "comport/serportctl_led.h"
#include "comport/serportctl_select.h"
#include "comport/serportsetup.h"
#include "comport/serporttrmset.h"
#include "platform/comm_fake.h"
#include "tests/comport/serport_test_util.h"
#include "tests/support/fs.h"

namespace {

class ComCtl : public ::testing::Test {
 protected:
  void SetUp() override {
    line = backend.add("COM1");
    backend.add("COM2");
    port = std::make_unique<TComPort>();
    port->SetCommBackend(&backend);
  }
  // The device calls that configure the line.
  int configured() {
    return line->count("SetupComm") + line->count("SetCommState") + line->count("SetCommTimeouts");
  }
  // Answers the next modal dialog: OK (accept) or Cancel (reject), once it is up.
  static void AnswerNextDialog(bool ok, const std::function<void(QDialog &)> &fill = {}) {
    QTimer::singleShot(0, [ok, fill] {
      auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      if (fill)
        fill(*dialog);
      ok ? dialog->accept() : dialog->reject();
    });
  }

  FakeCommBackend backend;  // outlives the port
  std::shared_ptr<FakeCommLine> line;
  std::unique_ptr<TComPort> port;
};

TEST_F(ComCtl, SelectorsListTheWordsOfTheirSettingAndSelectThePortsValue) {
  port->SetBaudRate(br115200);
  port->SetDataBits(dbSeven);
  port->SetStopBits(sbTwoStopBits);
  port->Parity().SetBits(prEven);
  port->FlowControl().SetFlowControl(fcSoftware);
  const struct {
    TComProperty property;
    size_t count;
    const char *first, *selected;
  } cases[] = {
      {cpBaudRate, 16, "Custom", "115200"},
      {cpDataBits, 4, "5", "7"},
      {cpStopBits, 3, "1", "2"},
      {cpParity, 5, "None", "Even"},
      {cpFlowControl, 4, "Hardware", "Software"},
  };
  for (const auto &c : cases) {
    TComComboBox box;
    box.SetComProperty(c.property);
    ASSERT_EQ(static_cast<size_t>(box.count()), c.count) << c.selected;
    EXPECT_EQ(box.itemText(0).toStdString(), c.first);
    EXPECT_EQ(box.Text(), c.first);  // no port yet: item 0
    box.SetComPort(port.get());
    EXPECT_EQ(box.Text(), c.selected);
    TComRadioGroup group;
    group.SetComPort(port.get());
    group.SetComProperty(c.property);
    ASSERT_GE(group.ItemIndex(), 0);
    EXPECT_EQ(group.Select().Items()[static_cast<size_t>(group.ItemIndex())], c.selected);
  }
  TComComboBox none;
  none.SetComProperty(cpNone);
  EXPECT_EQ(none.count(), 0);
  EXPECT_EQ(none.Text(), "");
  // A port name the system does not list selects nothing until it is offered.
  TComComboBox ports;
  port->SetPort("/dev/pts/77");
  ports.SetComProperty(cpPort);
  ports.SetComPort(port.get());
  EXPECT_EQ(ports.Text(), "");
  ports.AddItem("/dev/pts/77");
  EXPECT_EQ(ports.Text(), "/dev/pts/77");
}

TEST_F(ComCtl, AChoiceReachesThePortAtOnceOnlyWithAutoApply) {
  TComComboBox box;
  box.SetComProperty(cpBaudRate);
  box.SetComPort(port.get());
  box.SetText("57600");
  box.Change();
  EXPECT_EQ(port->BaudRate(), br9600);
  box.ApplySettings();
  EXPECT_EQ(port->BaudRate(), br57600);
  box.SetAutoApply(true);
  box.SetText("300");
  box.Change();
  EXPECT_EQ(port->BaudRate(), br300);

  // The radio group acts on a click only when it picks another item than the last one.
  TComRadioGroup group;
  group.SetComProperty(cpParity);
  group.SetComPort(port.get());
  group.SetAutoApply(true);
  group.Click(2);
  EXPECT_EQ(port->Parity().Bits(), prEven);
  port->Parity().SetBits(prNone);
  group.Click(2);
  EXPECT_EQ(port->Parity().Bits(), prNone);
  group.Click(1);
  EXPECT_EQ(port->Parity().Bits(), prOdd);

  // A destroyed port is forgotten, and item 0 shown.
  port.reset();
  EXPECT_EQ(box.ComPort(), nullptr);
  EXPECT_EQ(box.currentIndex(), 0);
  EXPECT_EQ(group.ComPort(), nullptr);
  box.ApplySettings();  // nothing to apply to, and no crash
}

TEST_F(ComCtl, LedStateIsTheLinesOnceAPortIsAssigned) {
  TComLed led;
  std::vector<TLedState> changes;
  led.OnChange = [&](TComLed *, TLedState s) { changes.push_back(s); };
  led.SetState(lsOn);
  EXPECT_EQ(led.State(), lsOn);
  led.SetState(lsOff);
  led.SetComPort(port.get());
  try {
    led.SetState(lsOn);
    ADD_FAILURE() << "no refusal";
  } catch (const EComPort &e) {
    EXPECT_EQ(e.Code(), 19);
    EXPECT_STREQ(e.what(), "ComLed  Error: Cannot change led state if ComPort is selected");
  }
  port->Open();
  EXPECT_EQ(led.State(), lsOn);  // lsConn follows the open
  port->Close();
  ASSERT_TRUE(pump_until([&] { return led.State() == lsOff; }));
  EXPECT_EQ(changes, (std::vector<TLedState>{lsOn, lsOff, lsOn, lsOff}));

  // Received bytes light an Rx lamp, which goes out on its own once a reader (here a
  // splitter) has emptied the queue.
  TComDataPacket reader;
  std::string received;
  reader.OnPacket = [&](TComDataPacket *, const std::string &s) { received += s; };
  reader.SetComPort(port.get());
  TComLed rx;
  rx.SetLedSignal(lsRx);
  rx.SetComPort(port.get());
  bool lit = false;
  rx.OnChange = [&](TComLed *, TLedState s) { lit = lit || s == lsOn; };
  port->Open();
  EXPECT_EQ(rx.State(), lsOff);  // Rx starts off on an open port
  line->push_input("CFE> ");
  ASSERT_TRUE(pump_until([&] { return lit; }));
  ASSERT_TRUE(pump_until([&] { return rx.State() == lsOff && !rx.OffPending(); }));
  EXPECT_EQ(received, "CFE> ");
  port.reset();
  EXPECT_EQ(rx.ComPort(), nullptr);
  EXPECT_EQ(reader.ComPort(), nullptr);
  rx.SetState(lsOn);  // without a port the state is the owner's again
}

TEST_F(ComCtl, EveryBuiltInLampHasItsOwnLitAndUnlitPicture) {
  std::set<std::string> names;
  std::set<qint64> pictures;
  for (int k = lkRedLight; k <= lkBulb; ++k)
    for (TLedState s : {lsOff, lsOn}) {
      const QPixmap glyph = LedGlyph(static_cast<TLedKind>(k), s);
      ASSERT_EQ(glyph.size(), QSize(25, 25));
      names.insert(LedGlyphName(static_cast<TLedKind>(k), s));
      pictures.insert(glyph.toImage().cacheKey() ^
                      qHashBits(glyph.toImage().constBits(), glyph.toImage().sizeInBytes()));
    }
  EXPECT_EQ(names.size(), 12u);
  EXPECT_EQ(pictures.size(), 12u);
  EXPECT_STREQ(LedGlyphName(lkBulb, lsOn), "LEDBULBON");
  EXPECT_TRUE(LedGlyph(lkCustom, lsOn).isNull());

  TComLed led;
  led.SetKind(lkGreenLight);
  led.SetState(lsOn);
  led.setEnabled(false);
  EXPECT_EQ(led.CurrentGlyph().toImage(), LedGlyph(lkGreenLight, lsOff).toImage());
  QPixmap mine(25, 25);
  mine.fill(Qt::cyan);
  led.SetGlyphOn(mine);  // only a custom lamp takes pictures
  EXPECT_TRUE(led.GlyphOn().isNull());
  led.SetKind(lkCustom);
  led.SetGlyphOn(mine);
  led.setEnabled(true);
  EXPECT_EQ(led.CurrentGlyph().toImage(), mine.toImage());
}

TEST_F(ComCtl, PortDialogCancelsOrAppliesOnceToAnOpenPort) {
  port->SetBaudRate(br115200);
  port->Open();
  line->clear_calls();
  AnswerNextDialog(false, [](QDialog &d) {
    auto &setup = static_cast<TComSetupFrm &>(d);
    setup.Combo2->SetText("300");
    setup.Combo2->Change();
  });
  EXPECT_FALSE(EditComPort(port.get()));
  EXPECT_EQ(port->BaudRate(), br115200);
  EXPECT_EQ(configured(), 0);

  // The same values again: one SetupComm, SetCommState and SetCommTimeouts.
  AnswerNextDialog(true);
  EXPECT_TRUE(EditComPort(port.get()));
  EXPECT_EQ(line->count("SetupComm"), 1);
  EXPECT_EQ(line->count("SetCommState"), 1);
  EXPECT_EQ(line->count("SetCommTimeouts"), 1);

  // New line settings reach the device together; a new name moves the open port.
  line->clear_calls();
  AnswerNextDialog(true, [](QDialog &d) {
    auto &setup = static_cast<TComSetupFrm &>(d);
    setup.Combo1->AddItem("COM2");
    for (auto [box, text] :
         {std::pair{setup.Combo1, "COM2"}, {setup.Combo2, "2400"}, {setup.Combo5, "Odd"}}) {
      box->SetText(text);
      box->Change();
    }
  });
  EXPECT_TRUE(EditComPort(port.get()));
  EXPECT_EQ(port->Port(), "COM2");
  EXPECT_TRUE(port->Connected());
  EXPECT_EQ(port->BaudRate(), br2400);
  EXPECT_EQ(port->Parity().Bits(), prOdd);
  EXPECT_FALSE(line->is_open());
}

TEST_F(ComCtl, LoadingSettingsAppliesThemOnceToAnOpenPort) {
  const zv_test::TempDir dir("zv-comctl");
  const std::string ini = dir.str("port.ini");
  TComPort other;
  other.SetBaudRate(br2400);
  other.SetStoredProps({spBasic, spFlowControl, spTimeouts});
  other.StoreSettings(stIniFile, ini);
  port->SetStoredProps(other.StoredProps());
  port->Open();
  line->clear_calls();
  port->LoadSettings(stIniFile, ini);
  EXPECT_EQ(port->BaudRate(), br2400);
  EXPECT_EQ(line->count("SetCommState"), 1);
  EXPECT_EQ(line->dcb().BaudRate, 2400u);
}

TEST(TerminalDialog, CancelKeepsAndOkWritesBackWithTheNumberRules) {
  const struct {
    const char *columns, *rows;
    int want_columns, want_rows;
  } cases[] = {{"abc", "x", 80, 24}, {"500", "500", 256, 100}, {" 100 ", "30", 100, 30}, {"1", "0", 2, 2}};
  for (const auto &c : cases) {
    TComTerminal terminal;
    terminal.SetColumns(40);
    terminal.SetRows(10);
    TComTrmSetForm form;
    form.Load(terminal);
    EXPECT_EQ(form.edtColumns->text(), "40");
    form.edtColumns->setText(c.columns);
    form.edtRows->setText(c.rows);
    form.cbLocalEcho->setChecked(true);
    form.cbEmulation->setCurrentIndex(1);
    form.cbArrowKeys->setCurrentIndex(1);
    form.Apply(terminal);
    EXPECT_EQ(terminal.Columns(), c.want_columns) << c.columns;
    EXPECT_EQ(terminal.Rows(), c.want_rows) << c.rows;
    EXPECT_TRUE(terminal.LocalEcho());
    EXPECT_EQ(terminal.Emulation(), teVT52);
    EXPECT_EQ(terminal.ArrowKeys(), akWindows);
  }
  TComTerminal terminal;
  terminal.SetCaret(tcNone);
  QTimer::singleShot(0, [] {
    auto &form = *qobject_cast<TComTrmSetForm *>(QApplication::activeModalWidget());
    EXPECT_EQ(form.cbCaret->currentIndex(), -1);  // no item for "no caret"
    form.edtColumns->setText("120");
    form.cbWrapLines->setChecked(true);
    form.reject();
  });
  EXPECT_FALSE(EditComTerminal(&terminal));
  EXPECT_EQ(terminal.Columns(), 80);
  EXPECT_FALSE(terminal.WrapLines());
  EXPECT_EQ(terminal.Caret(), tcNone);
}

}  // namespace
