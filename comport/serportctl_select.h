// The two selector controls, a combo box and a radio group, that offer the values of one
// port setting (the port's name, baud rate, data bits, stop bits, parity or flow control) and
// apply the chosen one to the port, at once (AutoApply) or when asked (ApplySettings).
//
// Threads: GUI thread only.
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "comport/serporttypes.h"

class QButtonGroup;
class QVBoxLayout;
class TCustomComPort;
class TComLink;

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl };

// The items of a property: the machine's ports for cpPort, the setting's words in ordinal
// order for the others, nothing for cpNone.
std::vector<std::string> ComPropertyItems(TComProperty Property);

// The common work of both selectors: the items of one property, the value chosen (one
// pending value per property) and its way to the port. The host control shows Items and
// the selected index through the two callbacks.
class TComSelect {
 public:
  TComSelect();
  ~TComSelect();
  TComSelect(const TComSelect &) = delete;
  TComSelect &operator=(const TComSelect &) = delete;

  // The selectors only remember the port (and the index of its current value); a destroyed
  // port is forgotten and item 0 selected.
  TCustomComPort *ComPort() const { return port_; }
  void SetComPort(TCustomComPort *Value);
  TComProperty ComProperty() const { return property_; }
  // Fills the items and selects the port's current value (item 0 without a port).
  void SetComProperty(TComProperty Value);
  bool AutoApply() const { return auto_apply_; }
  void SetAutoApply(bool Value) { auto_apply_ = Value; }

  const std::vector<std::string> &Items() const { return items_; }
  // One more item, for a port the system does not list (a device path typed by the user);
  // a port name goes where port order puts it.
  void AddItem(const std::string &Item);

  // A user's choice: the pending value from the chosen text, applied when AutoApply is set.
  void Change(const std::string &Text);
  // The pending value of the property to the port.
  void ApplySettings();
  // Reads the port's current value and selects it (-1 when it is not among the items).
  void UpdateSettings();

  std::function<void()> ItemsChanged;
  std::function<void(int Index)> SelectIndex;

 private:
  void ReadPort();
  std::string CurrentText() const;

  std::unique_ptr<TComLink> link_;
  TCustomComPort *port_ = nullptr;
  TComProperty property_ = cpNone;
  bool auto_apply_ = false;
  std::vector<std::string> items_;
  std::string port_name_;
  TBaudRate baud_rate_ = br9600;
  TDataBits data_bits_ = dbEight;
  TStopBits stop_bits_ = sbOneStopBit;
  TParityBits parity_ = prNone;
  TFlowControl flow_control_ = fcNone;
};

// A Qt control that shows the values of one port setting: the selector's properties and
// actions, which the derived control wires to its items.
template <class Control>
class TComSelectControl : public Control {
 public:
  explicit TComSelectControl(QWidget *Parent) : Control(Parent) {}

  TCustomComPort *ComPort() const { return select_.ComPort(); }
  void SetComPort(TCustomComPort *Value) { select_.SetComPort(Value); }
  TComProperty ComProperty() const { return select_.ComProperty(); }
  void SetComProperty(TComProperty Value) { select_.SetComProperty(Value); }
  bool AutoApply() const { return select_.AutoApply(); }
  void SetAutoApply(bool Value) { select_.SetAutoApply(Value); }
  void ApplySettings() { select_.ApplySettings(); }
  void UpdateSettings() { select_.UpdateSettings(); }
  TComSelect &Select() { return select_; }

 protected:
  TComSelect select_;
};

// A drop-down list of the values of one port setting.
class TComComboBox : public TComSelectControl<QComboBox> {
  Q_OBJECT
 public:
  explicit TComComboBox(QWidget *Parent = nullptr);

  // The selected item (empty when none); setting selects the item equal to Value.
  std::string Text() const;
  void SetText(const std::string &Value);
  void AddItem(const std::string &Item) { select_.AddItem(Item); }

  // What a user's pick does (the list calls it on activation).
  void Change();

 private:
  void ShowItems();
};

// A group of radio buttons, one per value of a port setting.
class TComRadioGroup : public TComSelectControl<QGroupBox> {
  Q_OBJECT
 public:
  explicit TComRadioGroup(QWidget *Parent = nullptr);

  int ItemIndex() const;
  void SetItemIndex(int Index);

  // A click on an item: acted on only when it differs from the last one acted on.
  void Click(int Index);

 private:
  void ShowItems();
  QButtonGroup *buttons_;
  QVBoxLayout *layout_;
  int last_index_ = -1;
};
