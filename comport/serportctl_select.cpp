#include "comport/serportctl_select.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "comport/serport.h"
#include "platform/comm.h"

std::vector<std::string> ComPropertyItems(TComProperty Property) {
  std::vector<std::string> items;
  switch (Property) {
    case cpNone:
      break;
    case cpPort:
      EnumComPorts(items);
      break;
    case cpBaudRate:
      for (int b = brCustom; b <= br256000; ++b)
        items.push_back(BaudRateToStr(static_cast<TBaudRate>(b)));
      break;
    case cpDataBits:
      for (int d = dbFive; d <= dbEight; ++d)
        items.push_back(DataBitsToStr(static_cast<TDataBits>(d)));
      break;
    case cpStopBits:
      for (int s = sbOneStopBit; s <= sbTwoStopBits; ++s)
        items.push_back(StopBitsToStr(static_cast<TStopBits>(s)));
      break;
    case cpParity:
      for (int p = prNone; p <= prSpace; ++p)
        items.push_back(ParityToStr(static_cast<TParityBits>(p)));
      break;
    case cpFlowControl:
      for (int f = fcHardware; f <= fcCustom; ++f)
        items.push_back(FlowControlToStr(static_cast<TFlowControl>(f)));
      break;
  }
  return items;
}

TComSelect::TComSelect() : link_(std::make_unique<TComLink>()) {
  // The link carries no data; it only tells the selector that its port is gone.
  link_->OnDestroy = [this](TCustomComPort *) {
    port_ = nullptr;
    if (SelectIndex)
      SelectIndex(items_.empty() ? -1 : 0);
  };
}

TComSelect::~TComSelect() {
  if (port_)
    port_->UnRegisterLink(link_.get());
}

void TComSelect::SetComPort(TCustomComPort *Value) {
  if (port_ == Value)
    return;
  RebindComLink(*link_, port_, Value);
  UpdateSettings();
}

void TComSelect::SetComProperty(TComProperty Value) {
  property_ = Value;
  items_ = ComPropertyItems(Value);
  if (ItemsChanged)
    ItemsChanged();
  UpdateSettings();
}

void TComSelect::AddItem(const std::string &Item) {
  if (std::find(items_.begin(), items_.end(), Item) != items_.end())
    return;
  // A port takes its place among the system's ports, as if the system had listed it too.
  auto at = property_ == cpPort ? std::upper_bound(items_.begin(), items_.end(), Item, comm_port_less)
                                : items_.end();
  items_.insert(at, Item);
  if (ItemsChanged)
    ItemsChanged();
  UpdateSettings();
}

void TComSelect::ReadPort() {
  port_name_ = port_->Port();
  baud_rate_ = port_->BaudRate();
  data_bits_ = port_->DataBits();
  stop_bits_ = port_->StopBits();
  parity_ = port_->Parity().Bits();
  flow_control_ = port_->FlowControl().FlowControl();
}

std::string TComSelect::CurrentText() const {
  switch (property_) {
    case cpNone:
      return {};
    case cpPort:
      return port_name_;
    case cpBaudRate:
      return BaudRateToStr(baud_rate_);
    case cpDataBits:
      return DataBitsToStr(data_bits_);
    case cpStopBits:
      return StopBitsToStr(stop_bits_);
    case cpParity:
      return ParityToStr(parity_);
    case cpFlowControl:
      return FlowControlToStr(flow_control_);
  }
  return {};
}

void TComSelect::UpdateSettings() {
  int index = items_.empty() ? -1 : 0;
  if (port_) {
    ReadPort();
    auto it = std::find(items_.begin(), items_.end(), CurrentText());
    index = it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
  }
  if (SelectIndex)
    SelectIndex(index);
}

void TComSelect::Change(const std::string &Text) {
  switch (property_) {
    case cpNone:
      return;
    case cpPort:
      port_name_ = Text;
      break;
    case cpBaudRate:
      baud_rate_ = StrToBaudRate(Text);
      break;
    case cpDataBits:
      data_bits_ = StrToDataBits(Text);
      break;
    case cpStopBits:
      stop_bits_ = StrToStopBits(Text);
      break;
    case cpParity:
      parity_ = StrToParity(Text);
      break;
    case cpFlowControl:
      flow_control_ = StrToFlowControl(Text);
      break;
  }
  if (auto_apply_)
    ApplySettings();
}

void TComSelect::ApplySettings() {
  if (!port_)
    return;
  switch (property_) {
    case cpNone:
      break;
    case cpPort:
      port_->SetPort(port_name_);
      break;
    case cpBaudRate:
      port_->SetBaudRate(baud_rate_);
      break;
    case cpDataBits:
      port_->SetDataBits(data_bits_);
      break;
    case cpStopBits:
      port_->SetStopBits(stop_bits_);
      break;
    case cpParity:
      port_->Parity().SetBits(parity_);
      break;
    case cpFlowControl:
      port_->FlowControl().SetFlowControl(flow_control_);
      break;
  }
}

// ---- combo box ----

TComComboBox::TComComboBox(QWidget *Parent) : TComSelectControl(Parent) {
  setEditable(false);  // a drop-down list: only the offered values can be chosen
  select_.ItemsChanged = [this] { ShowItems(); };
  select_.SelectIndex = [this](int Index) { setCurrentIndex(Index); };
  connect(this, &QComboBox::activated, this, [this](int) { Change(); });
}

void TComComboBox::ShowItems() {
  const QSignalBlocker quiet(this);
  clear();
  for (const auto &item : select_.Items())
    addItem(QString::fromStdString(item));
}

std::string TComComboBox::Text() const {
  return currentIndex() < 0 ? std::string() : currentText().toStdString();
}

void TComComboBox::SetText(const std::string &Value) {
  setCurrentIndex(findText(QString::fromStdString(Value)));
}

void TComComboBox::Change() { select_.Change(Text()); }

// ---- radio group ----

TComRadioGroup::TComRadioGroup(QWidget *Parent)
    : TComSelectControl(Parent), buttons_(new QButtonGroup(this)), layout_(new QVBoxLayout(this)) {
  select_.ItemsChanged = [this] { ShowItems(); };
  select_.SelectIndex = [this](int Index) { SetItemIndex(Index); };
  connect(buttons_, &QButtonGroup::idClicked, this, &TComRadioGroup::Click);
}

void TComRadioGroup::ShowItems() {
  for (QAbstractButton *b : buttons_->buttons()) {
    buttons_->removeButton(b);
    layout_->removeWidget(b);
    b->hide();
    b->deleteLater();
  }
  int id = 0;
  for (const auto &item : select_.Items()) {
    auto *b = new QRadioButton(QString::fromStdString(item), this);
    buttons_->addButton(b, id++);
    layout_->addWidget(b);
  }
}

int TComRadioGroup::ItemIndex() const { return buttons_->checkedId(); }

void TComRadioGroup::SetItemIndex(int Index) {
  if (QAbstractButton *b = buttons_->button(Index)) {
    b->setChecked(true);
    return;
  }
  // No item: clear the group's choice (an exclusive group will not let the last one go).
  buttons_->setExclusive(false);
  for (QAbstractButton *b : buttons_->buttons())
    b->setChecked(false);
  buttons_->setExclusive(true);
}

void TComRadioGroup::Click(int Index) {
  if (Index == last_index_ || Index < 0 || Index >= static_cast<int>(select_.Items().size()))
    return;
  last_index_ = Index;
  SetItemIndex(Index);
  select_.Change(select_.Items()[static_cast<size_t>(Index)]);
}
