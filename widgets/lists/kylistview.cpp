#include "widgets/lists/kylistview.h"

#include <QDragMoveEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>

TListItem *TListItems::Add() {
  auto *item = new TListItem;
  view_.addTopLevelItem(item);  // the list owns its rows
  return item;
}

int TListItems::Count() const { return view_.topLevelItemCount(); }

void TListItems::Clear() { view_.clear(); }

TListItem *TListItems::operator[](int index) const { return view_.item(index); }

TKyListView::TKyListView(QWidget *parent) : QTreeWidget(parent) {
  setColumnCount(1);
  setColumnWidth(0, default_column_width);
  header()->hide();
  header()->setStretchLastSection(false);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAllColumnsShowFocus(true);
  // A flat one-pixel frame in the shadow colour instead of the sunken border (a plain
  // frame is drawn in the foreground colour; the rows' text uses another).
  setFrameShape(QFrame::Box);
  setFrameShadow(QFrame::Plain);
  setLineWidth(1);
  QPalette flat = palette();
  flat.setColor(QPalette::WindowText, flat.color(QPalette::Dark));
  setPalette(flat);
  // Our own rule scrolls during a drag (below), not the view's.
  setAutoScroll(false);
  drag_scroll_timer_.setInterval(drag_scroll_interval_ms);
  connect(&drag_scroll_timer_, &QTimer::timeout, this, [this] { DragScrollTick(); });
  drag_scroll_timer_.start();
  connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *current) {
    SelectionChanged(current ? indexOfTopLevelItem(current) : -1);
  });
}

TKyListView::~TKyListView() { drag_scroll_timer_.stop(); }

void TKyListView::SelectItem(int index) {
  QTreeWidgetItem *row = topLevelItem(index);
  if (!row)
    return;
  row->setSelected(true);
  setCurrentItem(row);
  scrollToItem(row, QAbstractItemView::EnsureVisible);
}

void TKyListView::Clear() {
  clear();
  setColumnCount(0);
}

void TKyListView::SetHoverTime(int ms) {
  // Rows are not selected by hovering in this list, so the delay only has to be kept.
  if (ms != hover_time_)
    hover_time_ = ms;
}

void TKyListView::SetReArrangeItems(bool on) {
  rearrange_ = on;
  setDragDropMode(on ? QAbstractItemView::InternalMove : QAbstractItemView::NoDragDrop);
}

int TKyListView::drag_scroll_step(int y, int height, int row_height) {
  if (y < row_height)
    return -1;
  if (y > height - row_height)
    return 1;
  return 0;
}

TListItem *TKyListView::item(int row) const { return dynamic_cast<TListItem *>(topLevelItem(row)); }

int TKyListView::currentRow() const {
  QTreeWidgetItem *current = currentItem();
  return current ? indexOfTopLevelItem(current) : -1;
}

int TKyListView::RowHeight() const {
  if (topLevelItemCount() > 0) {
    int h = rowHeight(indexFromItem(topLevelItem(0)));
    if (h > 0)
      return h;
  }
  return fontMetrics().height();
}

void TKyListView::DragScrollTick() {
  if (!rearrange_ || !dragging_)
    return;
  int step = drag_scroll_step(drag_y_, height(), RowHeight());
  if (step != 0)
    verticalScrollBar()->setValue(verticalScrollBar()->value() + step * verticalScrollBar()->singleStep());
}

void TKyListView::SelectionChanged(int) {}

void TKyListView::LeftClickCell(int column, int row) {
  if (OnLeftClickCell)
    OnLeftClickCell(this, column, row);
}

void TKyListView::RightClickCell(int column, int row) {
  if (OnRightClickCell)
    OnRightClickCell(this, column, row);
}

bool TKyListView::viewportEvent(QEvent *event) {
  // No info tips: a status line is its own explanation.
  if (event->type() == QEvent::ToolTip)
    return true;
  return QTreeWidget::viewportEvent(event);
}

void TKyListView::mousePressEvent(QMouseEvent *event) {
  QModelIndex at = indexAt(event->position().toPoint());
  QTreeWidget::mousePressEvent(event);
  if (!at.isValid())
    return;
  if (event->button() == Qt::LeftButton)
    LeftClickCell(at.column(), at.row());
  else if (event->button() == Qt::RightButton)
    RightClickCell(at.column(), at.row());
}

void TKyListView::dragEnterEvent(QDragEnterEvent *event) {
  dragging_ = true;
  drag_y_ = viewport()->mapTo(this, event->position().toPoint()).y();
  QTreeWidget::dragEnterEvent(event);
}

void TKyListView::dragMoveEvent(QDragMoveEvent *event) {
  drag_y_ = viewport()->mapTo(this, event->position().toPoint()).y();
  QTreeWidget::dragMoveEvent(event);
}

void TKyListView::dragLeaveEvent(QDragLeaveEvent *event) {
  dragging_ = false;
  QTreeWidget::dragLeaveEvent(event);
}

void TKyListView::dropEvent(QDropEvent *event) {
  dragging_ = false;
  QTreeWidget::dropEvent(event);
}
